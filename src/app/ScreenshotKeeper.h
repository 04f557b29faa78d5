#pragma once
// Keeps a GPU copy of every interval-th offered frame in a small rotation of slots, and writes the kept
// frames out as JPEG images when the capture stops. Frames that come seldom (a still window's repeats, a
// window that changes now and then) are each kept, so the image is never much older than the last frame.

#include <d3d11.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class ScreenshotKeeper {
public:
    ScreenshotKeeper(std::uint32_t slotCount, std::uint32_t interval, bool everyFrame);

    // On the capture's thread, for every captured frame.
    void Offer(ID3D11Device* device, ID3D11Texture2D* frame);

    // After the capture has stopped: NAME.jpg for the newest kept frame, NAME-alt-i.jpg for older ones.
    // Throws what the read-back throws.
    void Save(ID3D11Device* device, const std::wstring& name);

private:
    std::uint32_t SlotIndex(std::uint32_t frame) const;

    std::uint32_t m_interval;
    std::uint32_t m_frameCounter = 0;
    std::chrono::steady_clock::time_point m_lastKept;
    bool m_everyFrame;
    std::vector<ComPtr<ID3D11Texture2D>> m_slots;
};
