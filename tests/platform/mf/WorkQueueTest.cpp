// MFStartup/MFShutdown, MFPutWorkItem, MFInvokeCallback and IMFAsyncResult.

#include "TestCallback.h"
#include "platform/mf/SerialExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(WorkQueue, NeedsThePlatformStarted) {
    auto callback = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback.Get(), nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(MFStartup(0x10000), MF_E_BAD_STARTUP_VERSION);
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback.Get(), nullptr), MF_E_SHUTDOWN);
    // Nothing was kept from the failed calls.
    EXPECT_EQ(callback->References(), 1u);
}

TEST(WorkQueue, InvokesOnAWorkerThreadWithTheCallersState) {
    PlatformStarted platform;
    ASSERT_EQ(platform.Result(), S_OK);
    auto state = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    std::promise<std::thread::id> ranOn;
    auto callback = MakeComObject<TestCallback>([&](IMFAsyncResult* result) {
        ComPtr<IUnknown> got;
        EXPECT_EQ(result->GetState(&got), S_OK);
        EXPECT_EQ(got.Get(), static_cast<IUnknown*>(state.Get()));
        EXPECT_EQ(result->GetStateNoAddRef(), static_cast<IUnknown*>(state.Get()));
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(result->GetObject(&object), E_POINTER);
        EXPECT_EQ(object, nullptr);
        ranOn.set_value(std::this_thread::get_id());
        return S_OK;
    });
    ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback.Get(), state.Get()), S_OK);
    auto future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

TEST(WorkQueue, StartsItemsInTheOrderTheyWereQueued) {
    PlatformStarted platform;
    std::mutex mutex;
    std::condition_variable done;
    std::vector<int> started;
    constexpr int Items = 200;
    std::vector<ComPtr<TestCallback>> callbacks;
    for (int i = 0; i < Items; ++i) {
        callbacks.push_back(MakeComObject<TestCallback>([&, i](IMFAsyncResult*) {
            std::lock_guard lock(mutex);
            started.push_back(i);
            done.notify_one();
            return S_OK;
        }));
    }
    for (auto& callback : callbacks)
        ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_MULTITHREADED, callback.Get(), nullptr), S_OK);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, 10s, [&] { return started.size() == Items; }));
    // Several workers run at once, so only the start order is fixed: no item may overtake by much.
    int inversions = 0;
    for (int i = 1; i < Items; ++i)
        inversions += started[i] < started[i - 1];
    EXPECT_LT(inversions, Items / 4);
}

TEST(WorkQueue, RejectsUnknownQueuesAndNullArguments) {
    PlatformStarted platform;
    auto callback = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    EXPECT_EQ(MFPutWorkItem(0x00010000, callback.Get(), nullptr), MF_E_INVALID_WORKQUEUE);
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(MFPutWorkItemEx(MFASYNC_CALLBACK_QUEUE_STANDARD, nullptr), E_POINTER);
    EXPECT_EQ(MFInvokeCallback(nullptr), E_POINTER);
    IMFAsyncResult* result = reinterpret_cast<IMFAsyncResult*>(1);
    EXPECT_EQ(MFCreateAsyncResult(nullptr, callback.Get(), nullptr, nullptr), E_POINTER);
    EXPECT_EQ(MFCreateAsyncResult(nullptr, callback.Get(), nullptr, &result), S_OK);
    EXPECT_NE(result, nullptr);
    result->Release();
}

TEST(WorkQueue, InvokeCallbackUsesTheQueueTheCallbackNames) {
    PlatformStarted platform;
    std::promise<HRESULT> status;
    auto good = MakeComObject<TestCallback>(
        [&](IMFAsyncResult* result) {
            status.set_value(result->GetStatus());
            return S_OK;
        },
        MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION);
    auto object = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    ComPtr<IMFAsyncResult> result;
    ASSERT_EQ(MFCreateAsyncResult(object.Get(), good.Get(), nullptr, &result), S_OK);
    result->SetStatus(E_ABORT);
    ComPtr<IUnknown> gotObject;
    EXPECT_EQ(result->GetObject(&gotObject), S_OK);
    EXPECT_EQ(gotObject.Get(), static_cast<IUnknown*>(object.Get()));
    ASSERT_EQ(MFInvokeCallback(result.Get()), S_OK);
    auto future = status.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), E_ABORT);

    auto privateQueue = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; }, 0x00020000);
    ComPtr<IMFAsyncResult> refused;
    ASSERT_EQ(MFCreateAsyncResult(nullptr, privateQueue.Get(), nullptr, &refused), S_OK);
    EXPECT_EQ(MFInvokeCallback(refused.Get()), MF_E_INVALID_WORKQUEUE);
}

TEST(WorkQueue, ACallbackNamingAnExecutorsQueueRunsOnItsWorkerInOrder) {
    PlatformStarted platform;
    DWORD queue = 0;
    std::vector<int> ran;
    bool allOnWorker = true;
    ComPtr<TestCallback> callbacks[50];
    {
        SerialExecutor executor("test-executor");
        queue = executor.WorkQueueId();
        for (int i = 0; i < 50; ++i) {
            callbacks[i] = MakeComObject<TestCallback>(
                [&, i](IMFAsyncResult*) {
                    allOnWorker = allOnWorker && executor.IsWorkerThread();
                    ran.push_back(i);
                    return S_OK;
                },
                queue);
            ComPtr<IMFAsyncResult> result;
            ASSERT_EQ(MFCreateAsyncResult(nullptr, callbacks[i].Get(), nullptr, &result), S_OK);
            // Both ways in: a work item, and a result whose callback names the queue.
            ASSERT_EQ(i % 2 == 0 ? MFPutWorkItem(queue, callbacks[i].Get(), nullptr)
                                 : MFInvokeCallback(result.Get()),
                      S_OK);
        }
        // Runs after every item queued before it.
        ASSERT_TRUE(executor.Run([] {}));
        EXPECT_TRUE(allOnWorker);
        ASSERT_EQ(ran.size(), 50u);
        for (int i = 0; i < 50; ++i)
            EXPECT_EQ(ran[i], i);
        executor.Close();
        EXPECT_EQ(MFPutWorkItem(queue, callbacks[0].Get(), nullptr), MF_E_SHUTDOWN);
    }
    EXPECT_EQ(MFPutWorkItem(queue, callbacks[0].Get(), nullptr), MF_E_INVALID_WORKQUEUE);
    for (const auto& callback : callbacks)
        EXPECT_EQ(callback->References(), 1u);
}

TEST(WorkQueue, StartupIsCountedAndShutdownDropsWaitingItems) {
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_LITE), S_OK);
    ASSERT_EQ(MFShutdown(), S_OK);

    // Still running after one of two shutdowns: block the workers, then queue more than they can take.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> blocked{0};
    auto blocker = MakeComObject<TestCallback>([&](IMFAsyncResult*) {
        ++blocked;
        released.wait();
        return S_OK;
    });
    std::atomic<int> ran{0};
    auto waiting = MakeComObject<TestCallback>([&](IMFAsyncResult*) {
        ++ran;
        return S_OK;
    });
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, blocker.Get(), nullptr), S_OK);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, waiting.Get(), nullptr), S_OK);
    while (blocked < 2)
        std::this_thread::sleep_for(1ms);

    std::thread shutdown([] { MFShutdown(); });
    // The queued items let go of the callback once the shutdown has dropped them.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (waiting->References() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    release.set_value();
    shutdown.join();
    // Whatever had not started was released unrun.
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(waiting->References(), 1u);
    EXPECT_EQ(blocker->References(), 1u);
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, waiting.Get(), nullptr), MF_E_SHUTDOWN);
}

TEST(WorkQueue, AWorkItemMayShutThePlatformDown) {
    ASSERT_EQ(MFStartup(MF_VERSION), S_OK);
    std::promise<HRESULT> shutdown;
    auto callback = MakeComObject<TestCallback>([&](IMFAsyncResult*) {
        shutdown.set_value(MFShutdown());
        return S_OK;
    });
    ASSERT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback.Get(), nullptr), S_OK);
    auto future = shutdown.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), S_OK);
    EXPECT_EQ(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback.Get(), nullptr), MF_E_SHUTDOWN);
}

} // namespace
