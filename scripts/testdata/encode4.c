/*
 * encode4: writes a four-component JPEG stream with libjpeg, for test data
 * that neither cjpeg nor PIL can make (YCCK, sub-sampled CMYK).
 *
 *   encode4 WIDTH HEIGHT IN.raw OUT.jpg cmyk|ycck QUALITY H0xV0,H1xV1,H2xV2,H3xV3 [progressive]
 *
 * IN.raw holds WIDTH * HEIGHT pixels of 4 bytes C, M, Y, K, stored into the
 * stream as they are. libjpeg writes an Adobe APP14 segment with transform 0
 * for cmyk and 2 for ycck (it converts CMYK to YCCK itself).
 *
 * Built and run by scripts/make-testdata.sh against Debian's libjpeg62-turbo.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>

static int parse_factors(const char* text, int h[4], int v[4]) {
    return sscanf(text, "%dx%d,%dx%d,%dx%d,%dx%d", &h[0], &v[0], &h[1], &v[1], &h[2], &v[2],
                  &h[3], &v[3]) == 8;
}

int main(int argc, char** argv) {
    if (argc < 8 || argc > 9) {
        fprintf(stderr, "usage: %s W H in.raw out.jpg cmyk|ycck quality factors [progressive]\n",
                argv[0]);
        return 2;
    }
    int width = atoi(argv[1]);
    int height = atoi(argv[2]);
    int quality = atoi(argv[6]);
    int h[4], v[4];
    if (width <= 0 || height <= 0 || !parse_factors(argv[7], h, v)) {
        fprintf(stderr, "bad size or sampling factors\n");
        return 2;
    }
    int ycck = strcmp(argv[5], "ycck") == 0;
    int progressive = argc == 9 && strcmp(argv[8], "progressive") == 0;

    size_t size = (size_t)width * (size_t)height * 4;
    unsigned char* pixels = malloc(size);
    FILE* in = fopen(argv[3], "rb");
    if (!pixels || !in || fread(pixels, 1, size, in) != size) {
        fprintf(stderr, "cannot read %s\n", argv[3]);
        return 1;
    }
    fclose(in);
    FILE* out = fopen(argv[4], "wb");
    if (!out) {
        fprintf(stderr, "cannot write %s\n", argv[4]);
        return 1;
    }

    struct jpeg_compress_struct cinfo;
    struct jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr); /* errors print and exit: fine for a generator */
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = (JDIMENSION)width;
    cinfo.image_height = (JDIMENSION)height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, quality, TRUE);
    for (int c = 0; c < 4; c++) {
        cinfo.comp_info[c].h_samp_factor = h[c];
        cinfo.comp_info[c].v_samp_factor = v[c];
    }
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = pixels + (size_t)cinfo.next_scanline * (size_t)width * 4;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    fclose(out);
    free(pixels);
    return 0;
}
