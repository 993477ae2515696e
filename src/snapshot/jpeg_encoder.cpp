// JPEG through libjpeg(-turbo). libjpeg reports fatal errors through error_exit, which by
// default ends the process; ours jumps back instead. The jump target lives in a function
// that holds only plain C data, so no destructor is ever skipped by the longjmp.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "snapshot/encoders.h"

namespace taviro::snapshot {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr) {
    // Warnings and traces stay silent.
}

// Plain C data only between setjmp and the library calls. On success *buffer holds
// *size bytes allocated by libjpeg (the caller frees it); on failure *buffer is freed.
bool Compress(const std::uint8_t* rgb, int width, int height, unsigned char** buffer,
              unsigned long* size, char* message) {
    jpeg_compress_struct info;
    ErrorManager manager;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&manager.pub);
    manager.pub.error_exit = OnJpegError;
    manager.pub.output_message = OnJpegMessage;
    manager.message[0] = '\0';
    *buffer = nullptr;
    *size = 0;
    if (setjmp(manager.jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(*buffer);
        *buffer = nullptr;
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", manager.message);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    const auto stride = static_cast<std::size_t>(width) * 3;
    while (info.next_scanline < info.image_height) {
        // libjpeg takes non-const rows but only reads them.
        JSAMPROW row = const_cast<JSAMPROW>(rgb + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool EncodeJpeg(const RgbImage& image, std::vector<std::uint8_t>* out, std::string* error) {
    if (image.width <= 0 || image.height <= 0 || image.width > JPEG_MAX_DIMENSION ||
        image.height > JPEG_MAX_DIMENSION ||
        image.bytes.size() <
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        if (error != nullptr) {
            *error = "JPEG: bad picture size";
        }
        return false;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    if (!Compress(image.bytes.data(), image.width, image.height, &buffer, &size, message)) {
        if (error != nullptr) {
            *error = std::string("JPEG: ") + message;
        }
        return false;
    }
    const std::unique_ptr<unsigned char, void (*)(void*)> owned(buffer, &std::free);
    out->assign(buffer, buffer + size);
    return true;
}

}  // namespace taviro::snapshot
