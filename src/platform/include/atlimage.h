#pragma once
// The platform's image object: wraps a bitmap and saves it in the format its file extension names.

#include <guiddef.h>
#include <wingdi.h>

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    void Attach(HBITMAP bitmap);
    HBITMAP Detach();
    // Deletes the attached bitmap.
    void Destroy();
    bool IsNull() const { return m_bitmap == nullptr; }

    // JPEG (baseline, quality 75) for .jpg, .jpeg, .jpe and .jfif; E_FAIL for other extensions or when the
    // file cannot be written.
    HRESULT Save(LPCWSTR fileName, REFGUID fileType = GUID_NULL) const;

private:
    HBITMAP m_bitmap = nullptr;
};
