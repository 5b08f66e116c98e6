// The display copied with Direct3D 9: the front buffer of adapter 0 into a system-memory
// surface the size of the display.
#include <windows.h>

#include <d3d9.h>

#include "capture/screen_grabber_win32.h"

namespace pemlo {

int grabberOpenDisplay(ScreenGrabber& grabber) {
    grabber.d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (grabber.d3d == nullptr) {
        return 0;
    }
    if (FAILED(grabber.d3d->GetAdapterDisplayMode(0, &grabber.displayMode))) {
        return 0;
    }
    D3DPRESENT_PARAMETERS params;
    ZeroMemory(&params, sizeof(params));
    params.BackBufferWidth = grabber.displayMode.Width;
    params.BackBufferHeight = grabber.displayMode.Height;
    params.BackBufferFormat = grabber.displayMode.Format;
    params.BackBufferCount = 0;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = grabber.desktopWindow;
    params.Windowed = FALSE;
    params.FullScreen_RefreshRateInHz = 0;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    if (FAILED(grabber.d3d->CreateDevice(0, D3DDEVTYPE_HAL, grabber.desktopWindow,
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                         &grabber.device))) {
        return 0;
    }
    if (FAILED(grabber.device->CreateOffscreenPlainSurface(
            grabber.displayMode.Width, grabber.displayMode.Height, D3DFMT_A8R8G8B8,
            D3DPOOL_SYSTEMMEM, &grabber.surface, nullptr))) {
        return 0;
    }
    grabber.screenWidth = static_cast<int>(grabber.displayMode.Width);
    grabber.screenHeight = static_cast<int>(grabber.displayMode.Height);
    return 1;
}

int ScreenGrabber::lockFrame(ScreenImage& image) {
    if (device == nullptr || surface == nullptr) {
        return 0;
    }
    if (FAILED(device->GetFrontBufferData(0, surface))) {
        return 0;
    }
    D3DLOCKED_RECT locked;
    ZeroMemory(&locked, sizeof(locked));
    if (FAILED(surface->LockRect(&locked, nullptr,
                                 D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE))) {
        return 0;
    }
    if (locked.Pitch <= 0 || locked.pBits == nullptr) {
        surface->UnlockRect();
        return 0;
    }
    image.pixels = static_cast<const unsigned char*>(locked.pBits);
    image.pitch = static_cast<uint32_t>(locked.Pitch);
    image.width = displayMode.Width;
    image.height = displayMode.Height;
    return 1;
}

int ScreenGrabber::unlockFrame() {
    return surface != nullptr && SUCCEEDED(surface->UnlockRect()) ? 1 : 0;
}

void ScreenGrabber::release() {
    if (surface != nullptr) {
        surface->Release();
        surface = nullptr;
    }
    if (device != nullptr) {
        device->Release();
        device = nullptr;
    }
    if (d3d != nullptr) {
        d3d->Release();
        d3d = nullptr;
    }
}

}  // namespace pemlo
