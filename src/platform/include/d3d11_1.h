#pragma once
// The Direct3D 11.1 additions this system calls.

#include <d3d11.h>

struct ID3D11DeviceContext1 : ID3D11DeviceContext {
    // The resource's content becomes undefined: a texture that is about to be overwritten gives up what it
    // holds.
    virtual void STDMETHODCALLTYPE DiscardResource(ID3D11Resource* resource) = 0;
};

PYX_INTERFACE_ID(ID3D11DeviceContext1, ID3D11DeviceContext, "bb2c6faa-b5fb-4082-8e6b-388b8cfa90e1");
