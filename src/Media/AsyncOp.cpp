#include "AsyncOp.h"

#include <new>

namespace {

void CopyValue(PROPVARIANT& destination, const PROPVARIANT* source) {
    PropVariantInit(&destination);
    if (source != nullptr && FAILED(PropVariantCopy(&destination, source)))
        throw std::bad_alloc();
}

} // namespace

AsyncOp::AsyncOp(AsyncOpType opType, const PROPVARIANT* startPosition, IMFPresentationDescriptor* descriptor)
    : type(opType), presentDesc(descriptor) {
    CopyValue(propVar, startPosition);
}

AsyncOp::AsyncOp(const AsyncOp& other) : type(other.type), presentDesc(other.presentDesc) {
    CopyValue(propVar, &other.propVar);
}

AsyncOp& AsyncOp::operator=(const AsyncOp& other) {
    if (this != &other) {
        PROPVARIANT value;
        CopyValue(value, &other.propVar);
        PropVariantClear(&propVar);
        propVar = value;
        type = other.type;
        presentDesc = other.presentDesc;
    }
    return *this;
}
