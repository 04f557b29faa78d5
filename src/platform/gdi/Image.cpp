#include <atlimage.h>

#include "BitmapBits.h"
#include "platform/jpeg/JpegWriter.h"
#include <stringapiset.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>

namespace {

constexpr int JpegQuality = 75;

bool IsJpegPath(LPCWSTR fileName) {
    std::wstring extension = std::filesystem::path(fileName).extension().wstring();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return extension == L".jpg" || extension == L".jpeg" || extension == L".jpe" || extension == L".jfif";
}

} // namespace

void CImage::Attach(HBITMAP bitmap) {
    Destroy();
    m_bitmap = bitmap;
}

HBITMAP CImage::Detach() {
    HBITMAP bitmap = m_bitmap;
    m_bitmap = nullptr;
    return bitmap;
}

void CImage::Destroy() {
    if (m_bitmap != nullptr)
        DeleteObject(Detach());
}

HRESULT CImage::Save(LPCWSTR fileName, REFGUID) const {
    if (fileName == nullptr)
        return E_POINTER;
    if (m_bitmap == nullptr)
        return E_FAIL;
    if (!IsJpegPath(fileName))
        return E_FAIL;
    // Encoded from the bitmap's own rows: a copy would add a whole picture at the moment of the save.
    const bool written =
        gdi::ReadBitmapBits(m_bitmap, [&](const std::uint8_t* bits, int width, int height, int stride) {
            std::string error;
            return jpeg::WriteJpegFile(WideToUtf8(fileName), jpeg::Image{bits, width, height, stride},
                                       JpegQuality, error);
        });
    return written ? S_OK : E_FAIL;
}
