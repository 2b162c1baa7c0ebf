#include "support/libjpeg_reference.h"

#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>

#include <jpeglib.h>

#include "support/jpeg_stream.h"

namespace testing_support {

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

}  // namespace testing_support

namespace wemb_test {
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
