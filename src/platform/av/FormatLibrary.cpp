#include "FormatLibrary.h"

#include <dlfcn.h>
#include <string>

namespace av {

namespace {

template <class Function>
bool Resolve(void* module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(module, name));
    return function != nullptr;
}

// The library these headers describe: the same major version, which keeps the interface.
const FormatLibrary* Load() {
    static FormatLibrary library;
    const std::string name = "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR);
    void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    const bool complete = Resolve(module, "avformat_alloc_output_context2", library.allocOutputContext) &&
                          Resolve(module, "avformat_new_stream", library.newStream) &&
                          Resolve(module, "avformat_write_header", library.writeHeader) &&
                          Resolve(module, "av_interleaved_write_frame", library.interleavedWriteFrame) &&
                          Resolve(module, "av_write_trailer", library.writeTrailer) &&
                          Resolve(module, "avformat_free_context", library.freeContext) &&
                          Resolve(module, "avio_alloc_context", library.allocIoContext) &&
                          Resolve(module, "avio_flush", library.flushIo) &&
                          Resolve(module, "avio_context_free", library.freeIoContext);
    if (!complete) {
        ::dlclose(module);
        return nullptr;
    }
    return &library;
}

} // namespace

const FormatLibrary* LoadFormatLibrary() {
    static const FormatLibrary* const library = Load();
    return library;
}

} // namespace av
