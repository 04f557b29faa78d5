// Platform start-up and the work-queue entry points.

#include "MfAsyncResult.h"
#include "SerialExecutor.h"
#include "WorkQueue.h"
#include "platform/win/LargeBuffers.h"
#include <mfapi.h>
#include <wrl/implements.h>

#include <memory>
#include <mutex>

namespace {

std::mutex g_startupMutex;
unsigned g_startupCount = 0;
std::shared_ptr<WorkQueue> g_workQueue;

HRESULT Put(DWORD queue, IMFAsyncCallback* callback, IMFAsyncResult* result) {
    if (const HRESULT hr = SerialExecutor::PutWorkItem(queue, callback, result); hr != MF_E_INVALID_WORKQUEUE)
        return hr;
    std::shared_ptr<WorkQueue> workQueue;
    {
        std::lock_guard lock(g_startupMutex);
        workQueue = g_workQueue;
    }
    return workQueue ? workQueue->Put(queue, callback, result) : MF_E_SHUTDOWN;
}

// The callback of a result made by MFCreateAsyncResult; null for results of other origin.
IMFAsyncCallback* CallbackOf(IMFAsyncResult* result) {
    const MfAsyncResult* platformResult = MfAsyncResult::From(result);
    return platformResult != nullptr ? platformResult->Callback() : nullptr;
}

} // namespace

HRESULT MFStartup(ULONG Version, DWORD) {
    // Windows also accepts the version of its first SDK (1) with the same API version.
    if (Version != MF_VERSION && Version != ((1u << 16) | MF_API_VERSION))
        return MF_E_BAD_STARTUP_VERSION;
    ReturnLargeBuffersToSystem();
    return NoThrow([] {
        std::lock_guard lock(g_startupMutex);
        if (g_startupCount == 0)
            g_workQueue = std::make_shared<WorkQueue>();
        ++g_startupCount;
        return S_OK;
    });
}

HRESULT MFShutdown() {
    std::shared_ptr<WorkQueue> stopping;
    {
        std::lock_guard lock(g_startupMutex);
        if (g_startupCount == 0 || --g_startupCount > 0)
            return S_OK;
        stopping.swap(g_workQueue);
    }
    // Outside the lock: a running work item may itself call into the platform while it is waited for.
    stopping->Stop();
    return S_OK;
}

HRESULT MFPutWorkItem(DWORD dwQueue, IMFAsyncCallback* pCallback, IUnknown* pState) {
    if (pCallback == nullptr)
        return E_POINTER;
    ComPtr<IMFAsyncResult> result;
    HRESULT hr = MFCreateAsyncResult(nullptr, pCallback, pState, &result);
    if (SUCCEEDED(hr))
        hr = Put(dwQueue, pCallback, result.Get());
    return hr;
}

HRESULT MFPutWorkItemEx(DWORD dwQueue, IMFAsyncResult* pResult) {
    if (pResult == nullptr)
        return E_POINTER;
    IMFAsyncCallback* callback = CallbackOf(pResult);
    return callback != nullptr ? Put(dwQueue, callback, pResult) : E_INVALIDARG;
}

HRESULT MFInvokeCallback(IMFAsyncResult* pAsyncResult) {
    if (pAsyncResult == nullptr)
        return E_POINTER;
    IMFAsyncCallback* callback = CallbackOf(pAsyncResult);
    if (callback == nullptr)
        return E_INVALIDARG;
    DWORD flags = 0;
    DWORD queue = MFASYNC_CALLBACK_QUEUE_STANDARD;
    if (FAILED(callback->GetParameters(&flags, &queue)))
        queue = MFASYNC_CALLBACK_QUEUE_STANDARD;
    return Put(queue, callback, pAsyncResult);
}
