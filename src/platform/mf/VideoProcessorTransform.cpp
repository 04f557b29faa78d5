#include "VideoProcessorTransform.h"

#include <mfapi.h>
#include <mftransform.h>

HRESULT VideoProcessorTransform::Create(IMFTransform** transform) {
    if (transform == nullptr)
        return E_POINTER;
    *transform = nullptr;
    ComPtr<VideoProcessorTransform> created = MakeComObject<VideoProcessorTransform>();
    if (!created)
        return E_OUTOFMEMORY;
    HRESULT hr = created->Initialize();
    if (SUCCEEDED(hr))
        hr = created->m_attributes->SetUINT32(MF_SA_D3D11_AWARE, TRUE);
    if (SUCCEEDED(hr))
        *transform = created.Detach();
    return hr;
}

VideoProcessorTransform::~VideoProcessorTransform() { ResetPool(); }

HRESULT VideoProcessorTransform::SetRotation(MF_VIDEO_PROCESSOR_ROTATION rotation) {
    if (rotation != ROTATION_NONE && rotation != ROTATION_NORMAL)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    m_rotationMode = rotation;
    return S_OK;
}

HRESULT VideoProcessorTransform::SetDestinationRectangle(RECT* rect) {
    if (rect == nullptr)
        return E_POINTER;
    if (rect->left < 0 || rect->top < 0 || rect->right <= rect->left || rect->bottom <= rect->top)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    m_area = {static_cast<int>(rect->left), static_cast<int>(rect->top),
              static_cast<int>(rect->right - rect->left), static_cast<int>(rect->bottom - rect->top)};
    return S_OK;
}

void VideoProcessorTransform::DescribeInput(MFT_INPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_INPUT_STREAM_WHOLE_SAMPLES | MFT_INPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                   MFT_INPUT_STREAM_FIXED_SAMPLE_SIZE;
    if (m_inputType)
        info.cbSize = static_cast<DWORD>(m_in.Size(static_cast<LONG>(m_in.RowBytes())));
}

void VideoProcessorTransform::DescribeOutput(MFT_OUTPUT_STREAM_INFO& info) {
    info.dwFlags = MFT_OUTPUT_STREAM_WHOLE_SAMPLES | MFT_OUTPUT_STREAM_SINGLE_SAMPLE_PER_BUFFER |
                   MFT_OUTPUT_STREAM_FIXED_SAMPLE_SIZE | MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
    if (m_outputType)
        info.cbSize = static_cast<DWORD>(m_out.Size(static_cast<LONG>(m_out.RowBytes())));
}

HRESULT VideoProcessorTransform::InputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (index > 0)
        return MF_E_NO_MORE_TYPES;
    return MakePartialType(MFMediaType_Video, MFVideoFormat_ARGB32, type);
}

HRESULT VideoProcessorTransform::OutputAvailableType(DWORD index, ComPtr<IMFMediaType>& type) {
    if (!m_inputType)
        return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (index > 1)
        return MF_E_NO_MORE_TYPES;
    HRESULT hr =
        MakePartialType(MFMediaType_Video, index == 0 ? MFVideoFormat_NV12 : MFVideoFormat_ARGB32, type);
    for (const GUID* key :
         {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO, &MF_MT_INTERLACE_MODE})
        if (SUCCEEDED(hr))
            hr = CopyTypeItem(m_inputType.Get(), type.Get(), *key);
    return hr;
}

bool VideoProcessorTransform::RatesCompatible(IMFMediaType* input, IMFMediaType* output) {
    if (input == nullptr || output == nullptr ||
        MFGetAttributeUINT32(m_attributes.Get(), MF_XVP_DISABLE_FRC, 0))
        return true;
    return SameFrameRate(input, output);
}

HRESULT VideoProcessorTransform::CheckInputType(IMFMediaType* type) {
    PictureFormat format;
    HRESULT hr = PictureFormat::FromType(type, format);
    if (FAILED(hr))
        return hr;
    const UINT32 rotation = MFGetAttributeUINT32(type, MF_MT_VIDEO_ROTATION, 0);
    if (format.subtype != MFVideoFormat_ARGB32 || !IsProgressive(type) ||
        (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) ||
        !RatesCompatible(type, m_outputType.Get()))
        return MF_E_INVALIDMEDIATYPE;
    return S_OK;
}

HRESULT VideoProcessorTransform::CheckOutputType(IMFMediaType* type) {
    PictureFormat format;
    HRESULT hr = PictureFormat::FromType(type, format);
    if (FAILED(hr))
        return hr;
    if (!IsProgressive(type) || !RatesCompatible(m_inputType.Get(), type))
        return MF_E_INVALIDMEDIATYPE;
    if (format.subtype == MFVideoFormat_NV12) {
        // The conversion is BT.601 with limited range; a type asking for anything else is refused.
        const UINT32 matrix = MFGetAttributeUINT32(type, MF_MT_YUV_MATRIX, MFVideoTransferMatrix_Unknown);
        const UINT32 range = MFGetAttributeUINT32(type, MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_Unknown);
        if ((matrix != MFVideoTransferMatrix_Unknown && matrix != MFVideoTransferMatrix_BT601) ||
            (range != MFNominalRange_Unknown && range != MFNominalRange_16_235))
            return MF_E_INVALIDMEDIATYPE;
    }
    return S_OK;
}

void VideoProcessorTransform::TypesChanged() {
    m_pending = nullptr;
    m_in = {};
    m_out = {};
    m_inputRotation = 0;
    // Both types passed their checks when they were set, so reading them again cannot fail.
    if (m_inputType) {
        (void)PictureFormat::FromType(m_inputType.Get(), m_in);
        m_inputRotation = static_cast<int>(MFGetAttributeUINT32(m_inputType.Get(), MF_MT_VIDEO_ROTATION, 0));
    }
    if (m_outputType)
        (void)PictureFormat::FromType(m_outputType.Get(), m_out);
    ResetPool();
}

void VideoProcessorTransform::ResetPool() {
    if (m_pool)
        m_pool->Close();
    m_pool = nullptr;
}

int VideoProcessorTransform::Turn() const { return m_rotationMode == ROTATION_NORMAL ? m_inputRotation : 0; }

bool VideoProcessorTransform::PassesThrough() const {
    const bool wholeOutput = m_area.width == 0 || (m_area.x == 0 && m_area.y == 0 &&
                                                   m_area.width == static_cast<int>(m_out.width) &&
                                                   m_area.height == static_cast<int>(m_out.height));
    return m_out.subtype == MFVideoFormat_ARGB32 && m_in.width == m_out.width &&
           m_in.height == m_out.height && Turn() == 0 && wholeOutput;
}

HRESULT VideoProcessorTransform::TakeInput(IMFSample* sample) {
    m_pending = sample;
    return S_OK;
}

HRESULT VideoProcessorTransform::MakeOutput(MFT_OUTPUT_DATA_BUFFER& buffer) {
    if (!m_pending)
        return MF_E_TRANSFORM_NEED_MORE_INPUT;
    ComPtr<IMFSample> input = std::move(m_pending);
    if (PassesThrough()) {
        buffer.pSample = input.Detach();
        return S_OK;
    }
    if (!m_pool) {
        m_pool = MakeComObject<VideoSamplePool>(m_device, m_out);
        if (!m_pool)
            return E_OUTOFMEMORY;
    }
    ComPtr<IMFSample> output;
    HRESULT hr = m_pool->Allocate(output);
    if (SUCCEEDED(hr))
        hr = Convert(input.Get(), output.Get());
    if (SUCCEEDED(hr))
        hr = input->CopyAllItems(output.Get());
    LONGLONG time = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(input->GetSampleTime(&time)))
        hr = output->SetSampleTime(time);
    if (SUCCEEDED(hr) && SUCCEEDED(input->GetSampleDuration(&time)))
        hr = output->SetSampleDuration(time);
    if (SUCCEEDED(hr))
        buffer.pSample = output.Detach();
    return hr;
}

HRESULT VideoProcessorTransform::Convert(IMFSample* input, IMFSample* output) {
    PictureLock source;
    PictureLock target;
    // A conversion to YUV does not read alpha.
    HRESULT hr = source.Lock(input, m_in, false, m_out.subtype == MFVideoFormat_NV12);
    if (SUCCEEDED(hr))
        hr = target.Lock(output, m_out, true);
    if (FAILED(hr))
        return hr;
    const yuv::ArgbView picture{source.Data(), static_cast<int>(source.Pitch()), static_cast<int>(m_in.width),
                                static_cast<int>(m_in.height)};
    const int width = static_cast<int>(m_out.width);
    const int height = static_cast<int>(m_out.height);
    const int pitch = static_cast<int>(target.Pitch());
    const bool converted =
        m_out.subtype == MFVideoFormat_NV12
            ? m_converter.ToNv12(picture, Turn(),
                                 {target.Data(), pitch, target.Chroma(), pitch, width, height}, m_area)
            : m_converter.ToArgb(picture, Turn(), {target.Data(), pitch, width, height}, m_area);
    return converted ? S_OK : E_FAIL;
}

HRESULT VideoProcessorTransform::Flush() {
    m_pending = nullptr;
    return S_OK;
}

HRESULT VideoProcessorTransform::SetD3DManager(IUnknown* manager) {
    ComPtr<ID3D11Device> device;
    if (manager != nullptr) {
        ComPtr<IMFDXGIDeviceManager> deviceManager;
        HANDLE handle = nullptr;
        HRESULT hr = manager->QueryInterface(&deviceManager);
        if (SUCCEEDED(hr))
            hr = deviceManager->OpenDeviceHandle(&handle);
        if (FAILED(hr))
            return hr;
        hr = deviceManager->LockDevice(handle, __uuidof(ID3D11Device),
                                       reinterpret_cast<void**>(device.ReleaseAndGetAddressOf()), TRUE);
        if (SUCCEEDED(hr))
            hr = deviceManager->UnlockDevice(handle, FALSE);
        const HRESULT closed = deviceManager->CloseDeviceHandle(handle);
        if (FAILED(hr) || FAILED(closed))
            return FAILED(hr) ? hr : closed;
    }
    m_device = std::move(device);
    ResetPool();
    return S_OK;
}
