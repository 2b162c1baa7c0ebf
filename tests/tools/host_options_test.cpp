#include "tools/host_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArgvCase {
    std::vector<const char*> args;  // after the program name
    bool ok;
    const char* expected;  // the fields that matter, as Describe() writes them; or a word of the error
};

// The parsed options in one line, so that a table row can state them all.
std::string Describe(const HostOptions& o) {
    std::string text;
    for (const std::string& input : o.inputs) text += "in=" + input + " ";
    if (!o.output.empty()) text += "o=" + o.output + " ";
    if (o.raw) text += "raw ";
    if (o.info) text += "info ";
    if (o.forceWemb) text += "force ";
    if (o.quiet) text += "quiet ";
    if (o.help) text += "help ";
    if (o.threads) text += "j=" + std::to_string(o.threads) + " ";
    if (o.range.first != 0 || o.range.last != -1) {
        text += "f=" + std::to_string(o.range.first) + ".." + std::to_string(o.range.last) + " ";
    }
    if (!text.empty()) text.pop_back();
    return text;
}

TEST(ParseHostOptions, TableOfCommandLines) {
    const ArgvCase cases[] = {
        // The historical form, and options before or after the inputs.
        {{"frame.jpg", "-o", "out.bmp"}, true, "in=frame.jpg o=out.bmp"},
        {{"-o", "out.bmp", "frame.jpg"}, true, "in=frame.jpg o=out.bmp"},
        {{"--output=dir/", "a.jpg", "b.jpg"}, true, "in=a.jpg in=b.jpg o=dir/"},
        {{"-", "--raw"}, true, "in=- raw"},
        {{"clip.avi", "--info", "--force-wemb", "-q"}, true, "in=clip.avi info force quiet"},
        {{"clip.avi", "--quiet"}, true, "in=clip.avi quiet"},
        {{"-j", "3", "c.avi"}, true, "in=c.avi j=3"},
        {{"-j8", "c.avi"}, true, "in=c.avi j=8"},
        {{"--threads=256", "c.avi"}, true, "in=c.avi j=256"},
        {{"-f", "7", "c.avi"}, true, "in=c.avi f=7..7"},
        {{"--frames", "10-", "c.avi"}, true, "in=c.avi f=10..-1"},
        {{"--frames=-4", "c.avi"}, true, "in=c.avi f=0..4"},
        {{"-f", "2-5", "c.avi"}, true, "in=c.avi f=2..5"},
        {{"--", "-odd.jpg", "--raw"}, true, "in=-odd.jpg in=--raw"},
        {{"-h"}, true, "help"},
        {{"--help", "--bogus-after-help-is-still-refused"}, false, "unknown option"},
        // Refusals, each with the word that explains it.
        {{}, false, "no input"},
        {{"-o"}, false, "needs a value"},
        {{"a.jpg", "-o", ""}, false, "-o takes"},
        {{"a.jpg", "-o", "-"}, false, "--raw"},
        {{"a.jpg", "--raw", "-o", "x.bmp"}, false, "cannot be combined"},
        {{"a.jpg", "--info", "--raw"}, false, "--info"},
        {{"a.jpg", "-j", "0"}, false, "1 to 256"},
        {{"a.jpg", "-j", "257"}, false, "1 to 256"},
        {{"a.jpg", "-j", "99999999999999999999"}, false, "1 to 256"},
        {{"a.jpg", "-j", "-2"}, false, "1 to 256"},
        {{"a.jpg", "-jx"}, false, "1 to 256"},
        {{"a.jpg", "-f", "5-3"}, false, "--frames"},
        {{"a.jpg", "-f", "-"}, false, "--frames"},
        {{"a.jpg", "-f", "1-2-3"}, false, "--frames"},
        {{"a.jpg", "-f", "x"}, false, "--frames"},
        {{"a.jpg", "--raw=yes"}, false, "takes no value"},
        {{"a.jpg", "-x"}, false, "unknown option -x"},
    };
    for (const ArgvCase& c : cases) {
        std::vector<const char*> argv = {"wemb-decode"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string joined;
        for (const char* arg : c.args) joined += std::string(" '") + arg + "'";
        SCOPED_TRACE(joined);
        HostOptions options;
        std::string error;
        const bool ok = ParseHostOptions(static_cast<int>(argv.size()), argv.data(), &options, &error);
        ASSERT_EQ(ok, c.ok) << error;
        if (ok) {
            EXPECT_EQ(Describe(options), c.expected);
        } else {
            EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        }
    }
}

TEST(FrameRange, ContainsFollowsItsInclusiveBounds) {
    FrameRange all;
    EXPECT_TRUE(all.Contains(0));
    EXPECT_TRUE(all.Contains(int64_t(1) << 40));
    FrameRange some;
    ASSERT_TRUE(ParseFrameRange("3-4", &some));
    EXPECT_FALSE(some.Contains(2));
    EXPECT_TRUE(some.Contains(3));
    EXPECT_TRUE(some.Contains(4));
    EXPECT_FALSE(some.Contains(5));
}

TEST(HostUsage, DocumentsEveryOptionAndTheExitStatus) {
    const std::string usage = HostUsage();
    for (const char* word : {"-o, --output", "--raw", "-f, --frames", "-j, --threads", "--force-wemb",
                             "--info", "-q, --quiet", "-h, --help", "rawvideo", "vflip",
                             "Missing directories are created", "Exit status", "3 the output"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
    // Lines fit a terminal of 80 columns.
    size_t start = 0;
    for (size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 79u) << usage.substr(start, end - start);
    }
}

}  // namespace
