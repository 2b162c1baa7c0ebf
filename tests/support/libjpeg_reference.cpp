#include "support/libjpeg_reference.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>
#include <limits>

#include <jpeglib.h>

#include "support/jpeg_stream.h"

namespace wemb_test {
namespace {

// libjpeg reports errors through error_exit, which must not return: we jump
// back to DecodeReference. Nothing with a destructor lives in the frames
// between setjmp and longjmp (only libjpeg's C frames and these callbacks).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool warningsAreErrors;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    // level < 0 is a warning: corrupt data that libjpeg would otherwise patch
    // over; the others are trace messages.
    if (level < 0 && err->warningsAreErrors) ErrorExit(cinfo);
}

// Sets `err` up to report through ErrorExit and EmitMessage; the caller then
// takes the jump target with setjmp(err->jump).
jpeg_error_mgr* UseErrorManager(ErrorManager* err, bool warningsAreErrors) {
    jpeg_error_mgr* base = jpeg_std_error(&err->base);
    err->base.error_exit = ErrorExit;
    err->base.emit_message = EmitMessage;
    err->warningsAreErrors = warningsAreErrors;
    err->message[0] = '\0';
    return base;
}

// Whether a component of the scan jpeg_read_header stopped at uses a
// Huffman table that no DHT segment has defined: a DC table for a
// sequential scan or a DC first scan, an AC table for a sequential or an
// AC scan.
// A table number out of range is left to libjpeg, which refuses it later.
bool FirstScanLacksHuffmanTable(const jpeg_decompress_struct& cinfo) {
    const auto missing = [](JHUFF_TBL* const* tables, int number) {
        return number >= 0 && number < NUM_HUFF_TBLS && tables[number] == nullptr;
    };
    const bool usesDc = !cinfo.progressive_mode || (cinfo.Ss == 0 && cinfo.Ah == 0);
    const bool usesAc = !cinfo.progressive_mode || cinfo.Ss > 0;
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
        const jpeg_component_info* component = cinfo.cur_comp_info[i];
        if ((usesDc && missing(cinfo.dc_huff_tbl_ptrs, component->dc_tbl_no)) ||
            (usesAc && missing(cinfo.ac_huff_tbl_ptrs, component->ac_tbl_no))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool DecodeReference(const std::vector<uint8_t>& data, ReferenceLayout layout, ReferenceImage* image,
                     std::string* error, bool warningsAreErrors) {
    *image = ReferenceImage();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = UseErrorManager(&err, warningsAreErrors);

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        *image = ReferenceImage();
        if (error != nullptr) *error = err.message;
        return false;
    }

    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    image->defaultHuffmanTables = FirstScanLacksHuffmanTable(cinfo);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    // Block smoothing makes up low AC coefficients for the blocks of a
    // progressive frame whose AC scans have not arrived; the codec shows the
    // coefficients decoded and nothing else.
    cinfo.do_block_smoothing = FALSE;
    cinfo.out_color_space = layout == ReferenceLayout::kCmykTopDown     ? JCS_CMYK
                            : layout == ReferenceLayout::kNativeTopDown ? cinfo.jpeg_color_space
                                                                        : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);

    image->width = static_cast<int32_t>(cinfo.output_width);
    image->height = static_cast<int32_t>(cinfo.output_height);
    image->progressive = cinfo.progressive_mode != 0;
    image->colorSpace = static_cast<int32_t>(cinfo.jpeg_color_space);
    // A progressive frame has been read to its end by now.
    image->scans = cinfo.input_scan_number;
    image->rowStep = (image->width * cinfo.output_components + 3) & ~3;
    image->pixels.assign(static_cast<size_t>(image->rowStep) * image->height, 0);

    const bool bottomUp = layout == ReferenceLayout::kBgrBottomUp;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int32_t y = static_cast<int32_t>(cinfo.output_scanline);
        const int32_t bufferRow = bottomUp ? image->height - 1 - y : y;
        JSAMPROW row = image->pixels.data() + static_cast<size_t>(bufferRow) * image->rowStep;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

ImageDifference CompareImages(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                              int32_t rowStep, int32_t channels) {
    ImageDifference d;
    double squares = 0.0;
    const int32_t rowBytes = width * channels;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* ra = a + static_cast<size_t>(y) * rowStep;
        const uint8_t* rb = b + static_cast<size_t>(y) * rowStep;
        for (int32_t i = 0; i < rowBytes; ++i) {
            const int diff = std::abs(static_cast<int>(ra[i]) - static_cast<int>(rb[i]));
            d.maxAbs = std::max(d.maxAbs, diff);
            squares += static_cast<double>(diff) * diff;
        }
    }
    const double samples = static_cast<double>(rowBytes) * height;
    d.psnr = squares == 0.0 ? std::numeric_limits<double>::infinity()
                            : 10.0 * std::log10(255.0 * 255.0 / (squares / samples));
    return d;
}

namespace {

// c[k][n] = C(k) / 2 x cos((2n + 1) k pi / 16), C(0) = 1 / sqrt(2), else 1:
// one dimension of the inverse DCT of T.81 A.3.3.
struct IdctBasis {
    double c[8][8];
    IdctBasis() {
        const double pi = std::acos(-1.0);
        for (int k = 0; k < 8; ++k) {
            for (int n = 0; n < 8; ++n) {
                c[k][n] = (k == 0 ? std::sqrt(0.5) : 1.0) / 2.0 * std::cos((2 * n + 1) * k * pi / 16.0);
            }
        }
    }
};

// The largest magnitude of the exact inverse DCT of one dequantized block.
double LargestSampleOfBlock(const JCOEF* block, const UINT16* quant) {
    static const IdctBasis basis;
    double rows[8][8];  // [v][x]: each row of frequencies transformed across
    for (int v = 0; v < 8; ++v) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int u = 0; u < 8; ++u) sum += double(block[v * 8 + u]) * quant[v * 8 + u] * basis.c[u][x];
            rows[v][x] = sum;
        }
    }
    double largest = 0.0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int v = 0; v < 8; ++v) sum += rows[v][x] * basis.c[v][y];
            largest = std::max(largest, std::fabs(sum));
        }
    }
    return largest;
}

}  // namespace

bool SurveyCoefficients(const std::vector<uint8_t>& data, CoefficientSurvey* survey) {
    *survey = CoefficientSurvey();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = UseErrorManager(&err, true);
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        *survey = CoefficientSurvey();
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        const UINT16* quant = component.quant_table->quantval;  // natural order
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                                  arrays[c], row, 1, FALSE);
            for (JDIMENSION column = 0; column < component.width_in_blocks; ++column) {
                const JCOEF* block = blocks[0][column];
                survey->largestExactSample = std::max(survey->largestExactSample, LargestSampleOfBlock(block, quant));
                survey->lastCoefficientSet = survey->lastCoefficientSet || block[63] != 0;
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

std::vector<uint8_t> CmykAsViewersShowIt(const ReferenceImage& cmyk) {
    const int32_t step = RowStep24(cmyk.width);
    std::vector<uint8_t> bgr(static_cast<size_t>(step) * cmyk.height);
    for (int32_t y = 0; y < cmyk.height; ++y) {
        for (int32_t x = 0; x < cmyk.width; ++x) {
            const uint8_t* p = cmyk.Row(y) + 4 * x;
            uint8_t* out = &bgr[static_cast<size_t>(y) * step + 3 * x];
            for (int c = 0; c < 3; ++c) out[2 - c] = static_cast<uint8_t>((p[c] * p[3] + 127) / 255);
        }
    }
    return bgr;
}

int LargestDifferenceOutsideBandEdges(const uint8_t* ours, const uint8_t* reference, int32_t width,
                                      int32_t height, int32_t rowStep, bool sequential420) {
    int largest = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (IsBandEdgeRow(y, sequential420)) continue;
        const size_t at = static_cast<size_t>(y) * rowStep;
        largest = std::max(largest, CompareImages(ours + at, reference + at, width, 1, rowStep).maxAbs);
    }
    return largest;
}

// ---------------------------------------------------------------- encoding

std::vector<uint8_t> LibjpegCompress(const std::vector<uint8_t>& pixels, int width, int height,
                                     int components, int quality, bool progressive,
                                     int restartInterval, bool fullChroma,
                                     const std::vector<ProgressionScan>* scans) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    cinfo.write_Adobe_marker = FALSE;
    cinfo.restart_interval = static_cast<unsigned int>(restartInterval);
    for (int c = 0; fullChroma && c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_set_quality(&cinfo, quality, TRUE);
    std::vector<jpeg_scan_info> script;
    if (progressive && scans != nullptr) {
        for (const ProgressionScan& scan : *scans) {
            jpeg_scan_info info = {};
            info.comps_in_scan = static_cast<int>(scan.components.size());
            for (size_t c = 0; c < scan.components.size(); ++c) info.component_index[c] = scan.components[c];
            info.Ss = scan.ss;
            info.Se = scan.se;
            info.Ah = scan.ah;
            info.Al = scan.al;
            script.push_back(info);
        }
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    } else if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(&pixels[static_cast<size_t>(cinfo.next_scanline) * width * components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return jpeg;
}

std::vector<int16_t> LibjpegCoefficients(const std::vector<uint8_t>& jpeg, int* blocksWide,
                                         int* blocksHigh) {
    jpeg_decompress_struct dinfo;
    jpeg_error_mgr errors;
    dinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&dinfo);
    jpeg_mem_src(&dinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&dinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&dinfo);
    const jpeg_component_info& component = dinfo.comp_info[0];
    *blocksWide = static_cast<int>(component.width_in_blocks);
    *blocksHigh = static_cast<int>(component.height_in_blocks);
    std::vector<int16_t> coefficients;
    for (int row = 0; row < *blocksHigh; ++row) {
        JBLOCKARRAY blocks = (*dinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&dinfo), arrays[0],
                                                              static_cast<JDIMENSION>(row), 1, FALSE);
        for (int column = 0; column < *blocksWide; ++column) {
            coefficients.insert(coefficients.end(), blocks[0][column], blocks[0][column] + DCTSIZE2);
        }
    }
    jpeg_finish_decompress(&dinfo);
    jpeg_destroy_decompress(&dinfo);
    return coefficients;
}

namespace {

// libjpeg's compressor defaults are the Annex K tables: Huffman tables K.3 to
// K.6 in slots 0 (luminance) and 1 (chrominance), and at quality 50 the
// quantization table K.1 unscaled.
struct AnnexKTables {
    HuffmanCodeLengths dc[2], ac[2];
    QuantValues luminanceQuant;
};

HuffmanCodeLengths CodeLengthsOf(const JHUFF_TBL& table) {
    HuffmanCodeLengths lengths{};
    size_t count = 0;
    for (int i = 0; i < 16; ++i) count += lengths.counts[i] = table.bits[i + 1];
    lengths.values.assign(table.huffval, table.huffval + count);
    return lengths;
}

const AnnexKTables& LibjpegDefaults() {
    static const AnnexKTables tables = [] {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr errors;
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_compress(&cinfo);
        cinfo.in_color_space = JCS_RGB;
        cinfo.input_components = 3;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 50, TRUE);
        AnnexKTables t;
        for (int slot = 0; slot < 2; ++slot) t.dc[slot] = CodeLengthsOf(*cinfo.dc_huff_tbl_ptrs[slot]);
        for (int slot = 0; slot < 2; ++slot) t.ac[slot] = CodeLengthsOf(*cinfo.ac_huff_tbl_ptrs[slot]);
        for (int i = 0; i < 64; ++i) t.luminanceQuant[i] = static_cast<uint16_t>(cinfo.quant_tbl_ptrs[0]->quantval[i]);
        jpeg_destroy_compress(&cinfo);
        return t;
    }();
    return tables;
}

}  // namespace

const QuantValues& AnnexKLuminanceQuant() { return LibjpegDefaults().luminanceQuant; }
const HuffmanCodeLengths& AnnexKLuminanceDc() { return LibjpegDefaults().dc[0]; }
const HuffmanCodeLengths& AnnexKChrominanceDc() { return LibjpegDefaults().dc[1]; }
const HuffmanCodeLengths& AnnexKLuminanceAc() { return LibjpegDefaults().ac[0]; }
const HuffmanCodeLengths& AnnexKChrominanceAc() { return LibjpegDefaults().ac[1]; }

}  // namespace wemb_test
