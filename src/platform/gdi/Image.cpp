#include <atlimage.h>

#include "platform/jpeg/JpegWriter.h"
#include <stringapiset.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <vector>

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
    BITMAP info{};
    if (m_bitmap == nullptr || GetObjectW(m_bitmap, sizeof(info), &info) == 0)
        return E_FAIL;
    if (!IsJpegPath(fileName))
        return E_FAIL;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(info.bmWidthBytes) * info.bmHeight);
    if (GetBitmapBits(m_bitmap, static_cast<LONG>(pixels.size()), pixels.data()) !=
        static_cast<LONG>(pixels.size()))
        return E_FAIL;
    const jpeg::Image image{pixels.data(), info.bmWidth, info.bmHeight, info.bmWidthBytes};
    std::string error;
    return jpeg::WriteJpegFile(WideToUtf8(fileName), image, JpegQuality, error) ? S_OK : E_FAIL;
}
