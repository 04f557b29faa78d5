#include "ScreenshotKeeper.h"

#include "TextureToScreenshot.h"
#include "Util/Logger.h"
#include <atlimage.h>
#include <d3d11_1.h>

namespace {

// A frame is kept when the kept one is this old, whatever its number.
constexpr std::chrono::milliseconds MaxAge{200};

} // namespace

ScreenshotKeeper::ScreenshotKeeper(std::uint32_t slotCount, std::uint32_t interval, bool everyFrame)
    : m_interval(interval == 0 ? 1 : interval), m_everyFrame(everyFrame),
      m_slots(slotCount == 0 ? 1 : slotCount) {}

std::uint32_t ScreenshotKeeper::SlotIndex(std::uint32_t frame) const {
    const std::uint32_t slot = frame / m_interval;
    return slot < m_slots.size() ? slot : slot % static_cast<std::uint32_t>(m_slots.size());
}

void ScreenshotKeeper::Offer(ID3D11Device* device, ID3D11Texture2D* frame) {
    const std::uint32_t n = m_frameCounter++;
    const auto now = std::chrono::steady_clock::now();
    if (!m_everyFrame && n % m_interval != 0 && now - m_lastKept < MaxAge)
        return;
    m_lastKept = now;
    ComPtr<ID3D11Texture2D>& slot = m_slots[SlotIndex(n)];

    D3D11_TEXTURE2D_DESC frameDescriptor{};
    frame->GetDesc(&frameDescriptor);
    if (slot) {
        // A resized window gives frames of another size; the copy needs equal sizes, so start the slot anew
        // and the kept image always shows the latest content.
        D3D11_TEXTURE2D_DESC slotDescriptor{};
        slot->GetDesc(&slotDescriptor);
        if (slotDescriptor.Width != frameDescriptor.Width ||
            slotDescriptor.Height != frameDescriptor.Height ||
            slotDescriptor.Format != frameDescriptor.Format)
            slot.Reset();
    }
    if (!slot) {
        // Readable by the CPU, so the save maps the kept picture instead of copying it once more.
        D3D11_TEXTURE2D_DESC descriptor = frameDescriptor;
        descriptor.Usage = D3D11_USAGE_STAGING;
        descriptor.BindFlags = 0;
        descriptor.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        descriptor.MiscFlags = 0;
        if (FAILED(device->CreateTexture2D(&descriptor, nullptr, &slot)) || !slot)
            return;
    }
    ComPtr<ID3D11DeviceContext> context;
    device->GetImmediateContext(&context);
    // The slot's previous picture goes first, so that memory it took of its own is given back.
    ComPtr<ID3D11DeviceContext1> context1;
    if (SUCCEEDED(context.As(&context1)))
        context1->DiscardResource(slot.Get());
    context->CopyResource(slot.Get(), frame);
}

void ScreenshotKeeper::Save(ID3D11Device* device, const std::wstring& name) {
    const auto count = static_cast<std::uint32_t>(m_slots.size());
    if (m_frameCounter == 0)
        return;
    // The slot of the last offered frame holds the newest image.
    const std::uint32_t start = SlotIndex(m_frameCounter - 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        const ComPtr<ID3D11Texture2D>& slot = m_slots[(start + count - i) % count];
        if (!slot)
            continue;
        CImage image;
        image.Attach(TextureToScreenshot(device, slot.Get()));
        std::wstring path = name;
        if (i > 0)
            path += L"-alt-" + std::to_wstring(i);
        path += L".jpg";
        if (FAILED(image.Save(path.c_str())))
            LogWarn("unable to save image: filename(%S)", path.c_str());
    }
}
