#pragma once
// Runs an owner's queued operations one at a time on the platform's standard work queue. Each queued
// operation posts one work item; a work item checks the front operation with the owner's validate function
// (a refusal leaves it at the front for the next work item) and hands it to the owner's dispatch function.
// The queue takes no reference on its owner; the owner detaches it before going away, and work items still
// pending then find nothing to run.

#include "Util/HResultCheck.h"
#include <mfobjects.h>
#include <wrl/implements.h>

#include <deque>
#include <memory>
#include <mutex>

template <class Op, class Owner>
class AsyncQueue final : public ComObject<IMFAsyncCallback> {
public:
    using Callback = HRESULT (Owner::*)(Op& op);

    AsyncQueue(std::shared_ptr<std::recursive_mutex> lock, Owner* inst, Callback validate, Callback dispatch)
        : m_lock(std::move(lock)), m_inst(inst), m_validate(validate), m_dispatch(dispatch) {}

    // Appends a copy of the operation and posts one work item for it.
    HRESULT QueueOp(const Op& op) {
        std::lock_guard lock(*m_lock);
        return NoThrow([&] {
            m_ops.push_back(op);
            return PostWorkItem();
        });
    }

    // Posts one more work item when operations are waiting.
    HRESULT ProcessNext() {
        std::lock_guard lock(*m_lock);
        return m_ops.empty() ? S_OK : PostWorkItem();
    }

    // Drops the waiting operations without running them.
    void Clear() {
        std::deque<Op> dropped;
        std::lock_guard lock(*m_lock);
        dropped.swap(m_ops);
    }

    void Detach() {
        std::deque<Op> dropped;
        std::lock_guard lock(*m_lock);
        m_inst = nullptr;
        dropped.swap(m_ops);
    }

    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return NotImplemented(); }

    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult*) override {
        std::lock_guard lock(*m_lock);
        if (m_inst == nullptr || m_ops.empty())
            return S_OK;
        HRESULT hr = (m_inst->*m_validate)(m_ops.front());
        if (FAILED(hr))
            return LogIfFailed(hr, "hr = (m_inst->*m_validate)(op)");
        return NoThrow([&] {
            Op op = m_ops.front();
            m_ops.pop_front();
            return LogIfFailed((m_inst->*m_dispatch)(op), "hr = (m_inst->*m_dispatch)(op)");
        });
    }

private:
    HRESULT PostWorkItem() { return MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, this, nullptr); }

    const std::shared_ptr<std::recursive_mutex> m_lock;
    Owner* m_inst;
    const Callback m_validate;
    const Callback m_dispatch;
    std::deque<Op> m_ops;
};
