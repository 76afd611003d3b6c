#include "serve/png_encoder.h"

#include "host/png_writer.h"

bool EncodeMapPng(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height, std::vector<uint8_t>& encoded,
                  std::string& error) {
    return WritePng(rgb, width, height, kAnswerPngSettings, encoded, error);
}
