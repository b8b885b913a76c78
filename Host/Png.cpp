#include "Host/Png.h"

#include "Common/Owners.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <vector>

namespace {

// Every interface is released when this returns, so the file is closed by then.
bool Encode(const wchar_t* path, UINT width, UINT height, const unsigned char* bgr, bool* opened) {
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.Receive()))))
        return false;
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Receive()))) return false;
    if (FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE))) return false;
    *opened = true;

    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Receive())))
        return false;
    if (FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) return false;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    if (FAILED(encoder->CreateNewFrame(frame.Receive(), options.Receive()))) return false;
    if (FAILED(frame->Initialize(options.Get()))) return false;
    if (FAILED(frame->SetSize(width, height))) return false;
    // The encoder may offer another format instead; the rows would then be misread.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return false;
    const UINT stride = width * 3;
    if (FAILED(frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(bgr))))
        return false;
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

bool WritePngFile(const char* path, int width, int height, const unsigned char* bgr) {
    // Keeps every size below computable in 32 bits.
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || !bgr || !path) return false;
    const int wide = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> widePath(wide);
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath.data(), wide) != wide) return false;

    bool opened = false;
    bool ok = false;
    {
        // COM already set up in another mode on this thread is used as it is.
        const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const ComApartment com(SUCCEEDED(initialised));
        ok = (com || initialised == RPC_E_CHANGED_MODE) &&
             Encode(widePath.data(), static_cast<UINT>(width), static_cast<UINT>(height), bgr,
                    &opened);
    }
    if (!ok && opened) DeleteFileA(path);  // never leave a truncated picture behind
    return ok;
}
