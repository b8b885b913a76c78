#include "Host/Png.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <vector>

namespace {

// Balances one successful CoInitializeEx; COM already set up in another mode is used as is.
class ComScope {
public:
    ComScope() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(m_result)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool Usable() const { return SUCCEEDED(m_result) || m_result == RPC_E_CHANGED_MODE; }

private:
    HRESULT m_result;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (m_p) m_p->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p = nullptr;
};

// Every interface is released when this returns, so the file is closed by then.
bool Encode(const wchar_t* path, UINT width, UINT height, const unsigned char* bgr,
            bool* opened) {
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.Out()))))
        return false;
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Out()))) return false;
    if (FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE))) return false;
    *opened = true;

    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out())))
        return false;
    if (FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) return false;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (FAILED(encoder->CreateNewFrame(frame.Out(), options.Out()))) return false;
    if (FAILED(frame->Initialize(options.Get()))) return false;
    if (FAILED(frame->SetSize(width, height))) return false;
    // The encoder may offer another format instead; the rows would then be misread.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) ||
        !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return false;
    const UINT stride = width * 3;
    if (FAILED(frame->WritePixels(height, stride, stride * height,
                                  const_cast<BYTE*>(bgr))))
        return false;
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

bool WritePngFile(const char* path, int width, int height, const unsigned char* bgr) {
    // Keeps every size below computable in 32 bits.
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || !bgr || !path)
        return false;
    const int wide = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> widePath(wide);
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.data(), wide) != wide) return false;

    bool opened = false;
    bool ok = false;
    {
        ComScope com;
        ok = com.Usable() && Encode(widePath.data(), static_cast<UINT>(width),
                                    static_cast<UINT>(height), bgr, &opened);
    }
    if (!ok && opened) DeleteFileA(path);  // never leave a truncated picture behind
    return ok;
}
