#include "tools/host_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The parsed options in one line, so that a table row can state them all.
std::string Describe(const HostOptions& o) {
    std::string text;
    for (const std::string& input : o.inputs) text += " in=" + input;
    if (!o.output.empty()) text += " o=" + o.output + (o.imageFormat == ImageFormat::Png ? " png" : " bmp");
    for (const auto& [set, name] : {std::make_pair(o.raw, " raw"), std::make_pair(o.info, " info"),
                                    std::make_pair(o.forceWemb, " force"), std::make_pair(o.quiet, " quiet"),
                                    std::make_pair(o.help, " help")}) {
        if (set) text += name;
    }
    if (o.rawBitCount != 24) text += " bits=" + std::to_string(o.rawBitCount);
    if (o.rawBottomUp) text += " bottom-up";
    if (o.threads) text += " j=" + std::to_string(o.threads);
    if (o.codecThreads) text += " codec=" + std::to_string(o.codecThreads);
    if (o.maxMemory) text += " mem=" + std::to_string(o.maxMemory);
    if (o.range.first != 0 || o.range.last != -1) {
        text += " f=" + std::to_string(o.range.first) + ".." + std::to_string(o.range.last);
    }
    return text.empty() ? text : text.substr(1);
}

// One command line per parsing rule, and one per refusal.
TEST(ParseHostOptions, TableOfCommandLines) {
    struct Case {
        std::vector<const char*> args;  // after the program name
        bool ok;
        const char* expected;  // Describe() of the options, or a part of the error
    };
    const Case cases[] = {
        {{"-o", "out.bmp", "a.jpg", "b.jpg"}, true, "in=a.jpg in=b.jpg o=out.bmp bmp"},
        {{"a.jpg", "--output=dir/"}, true, "in=a.jpg o=dir/ bmp"},
        {{"-", "--raw"}, true, "in=- raw"},
        // The file format: --format, else the name's extension, else BMP.
        {{"a.jpg", "-o", "out.png"}, true, "in=a.jpg o=out.png png"},
        {{"a.jpg", "-o", "F%05d.PNG"}, true, "in=a.jpg o=F%05d.PNG png"},
        {{"a.jpg", "-o", "dir.png/out"}, true, "in=a.jpg o=dir.png/out bmp"},
        {{"a.jpg", "-o", "frames/", "--format", "png"}, true, "in=a.jpg o=frames/ png"},
        {{"a.jpg", "-o", "x.png", "--format=png"}, true, "in=a.jpg o=x.png png"},
        {{"a.jpg", "-o", "x.jpeg", "--format", "png"}, true, "in=a.jpg o=x.jpeg png"},
        {{"a.jpg", "-o", "x.png", "--format", "bmp"}, false, "names a png file, but --format says bmp"},
        {{"a.jpg", "--format", "png"}, false, "give -o too"},
        {{"a.jpg", "-o", "x/", "--format", "gif"}, false, "bmp or png"},
        // Raw video: its pixels and row order.
        {{"-", "--raw", "--pix-fmt", "bgra"}, true, "in=- raw bits=32"},
        {{"-", "--raw", "--pix-fmt=bgr24", "--bottom-up"}, true, "in=- raw bottom-up"},
        {{"-", "--pix-fmt", "bgra"}, false, "give --raw too"},
        {{"-", "--bottom-up", "-o", "x/"}, false, "give --raw too"},
        {{"-", "--raw", "--pix-fmt", "rgb24"}, false, "bgr24 or bgra"},
        // Threads per frame.
        {{"c.avi", "--codec-threads", "4"}, true, "in=c.avi codec=4"},
        {{"c.avi", "--codec-threads=32", "-j", "2"}, true, "in=c.avi j=2 codec=32"},
        {{"c.avi", "--codec-threads", "0"}, false, "1 to 32"},
        {{"c.avi", "--codec-threads", "33"}, false, "1 to 32"},
        {{"clip.avi", "--info", "--force-wemb", "-q"}, true, "in=clip.avi info force quiet"},
        {{"-j", "3", "c.avi"}, true, "in=c.avi j=3"},
        {{"-j8", "c.avi"}, true, "in=c.avi j=8"},
        {{"--threads=256", "c.avi"}, true, "in=c.avi j=256"},
        {{"-f", "7", "c.avi"}, true, "in=c.avi f=7..7"},
        {{"--frames", "10-", "c.avi"}, true, "in=c.avi f=10..-1"},
        {{"--frames=-4", "c.avi"}, true, "in=c.avi f=0..4"},
        {{"-f", "2-5", "c.avi"}, true, "in=c.avi f=2..5"},
        {{"--", "-odd.jpg", "--raw"}, true, "in=-odd.jpg in=--raw"},
        {{"--max-memory", "512M", "c.avi"}, true, "in=c.avi mem=536870912"},
        {{"--max-memory=4G", "c.avi"}, true, "in=c.avi mem=4294967296"},
        {{"--max-memory", "3GiB", "c.avi"}, true, "in=c.avi mem=3221225472"},
        {{"--max-memory", "2048k", "c.avi"}, true, "in=c.avi mem=2097152"},
        {{"--max-memory", "1048576", "c.avi"}, true, "in=c.avi mem=1048576"},
        {{"--max-memory", "1T", "c.avi"}, true, "in=c.avi mem=1099511627776"},
        {{"-h"}, true, "help"},
        {{"--help", "--bogus-after-help-is-still-refused"}, false, "unknown option"},
        {{}, false, "no input"},
        {{"-o"}, false, "needs a value"},
        {{"a.jpg", "-o", ""}, false, "-o takes"},
        {{"a.jpg", "-o", "-"}, false, "--raw"},
        {{"a.jpg", "--raw", "-o", "x.bmp"}, false, "cannot be combined"},
        {{"a.jpg", "--info", "--raw"}, false, "--info"},
        {{"a.jpg", "-j", "0"}, false, "1 to 256"},
        {{"a.jpg", "-j", "257"}, false, "1 to 256"},
        {{"a.jpg", "-j", "99999999999999999999"}, false, "1 to 256"},
        {{"a.jpg", "-jx"}, false, "1 to 256"},
        {{"a.jpg", "-f", "5-3"}, false, "--frames"},
        {{"a.jpg", "-f", "-"}, false, "--frames"},
        {{"a.jpg", "-f", "1-2-3"}, false, "--frames"},
        {{"a.jpg", "-f", "x"}, false, "--frames"},
        {{"a.jpg", "--raw=yes"}, false, "takes no value"},
        {{"a.jpg", "--max-memory", "1048575"}, false, "at least 1M"},
        {{"a.jpg", "--max-memory", "0"}, false, "at least 1M"},
        {{"a.jpg", "--max-memory", "12X"}, false, "--max-memory takes"},
        {{"a.jpg", "--max-memory", "G"}, false, "--max-memory takes"},
        {{"a.jpg", "--max-memory", "-5M"}, false, "--max-memory takes"},
        {{"a.jpg", "--max-memory", "99999999999999T"}, false, "--max-memory takes"},
        {{"a.jpg", "-x"}, false, "unknown option -x"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"wemb-decode"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string joined;
        for (const char* arg : c.args) joined += std::string(" '") + arg + "'";
        SCOPED_TRACE(joined);
        HostOptions options;
        std::string error;
        ASSERT_EQ(ParseHostOptions(int(argv.size()), argv.data(), &options, &error), c.ok) << error;
        EXPECT_TRUE(c.ok ? Describe(options) == c.expected : error.find(c.expected) != std::string::npos)
            << (c.ok ? Describe(options) : error);
    }
}

TEST(FrameRange, ContainsFollowsItsInclusiveBounds) {
    EXPECT_TRUE(FrameRange().Contains(int64_t(1) << 40));
    FrameRange some;
    ASSERT_TRUE(ParseFrameRange("3-4", &some));
    for (int64_t frame : {2, 3, 4, 5}) EXPECT_EQ(some.Contains(frame), frame == 3 || frame == 4) << frame;
}

TEST(HostUsage, DocumentsEveryOptionAndTheExitStatusInEightyColumns) {
    const std::string usage = HostUsage();
    for (const char* word : {"-o, --output", "--format bmp|png", "--raw", "--pix-fmt bgr24|bgra", "--bottom-up",
                             "-f, --frames", "-j, --threads", "--codec-threads", "--max-memory", "--force-wemb",
                             "--info", "-q, --quiet", "-h, --help", "rawvideo", "Exit status", "3 the output"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
    size_t start = 0;
    for (size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 79u) << usage.substr(start, end - start);
    }
}

}  // namespace
