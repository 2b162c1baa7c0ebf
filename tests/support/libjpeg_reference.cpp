#include "support/libjpeg_reference.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace testing_support {

std::vector<uint8_t> LibjpegCompress(const std::vector<uint8_t>& pixels, int width, int height,
                                     int components, int quality, bool progressive) {
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
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
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
