// IMFMediaEventQueue and IMFMediaEvent.

#include "TestCallback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

ComPtr<IMFMediaEventQueue> NewQueue() {
    ComPtr<IMFMediaEventQueue> queue;
    EXPECT_EQ(MFCreateEventQueue(&queue), S_OK);
    return queue;
}

MediaEventType TypeOf(IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    EXPECT_EQ(event->GetType(&type), S_OK);
    return type;
}

PROPVARIANT UInt32Value(ULONG value) {
    PROPVARIANT variant;
    PropVariantInit(&variant);
    variant.vt = VT_UI4;
    variant.ulVal = value;
    return variant;
}

TEST(MediaEvent, CarriesTypeExtendedTypeStatusAndACopyOfTheValue) {
    PROPVARIANT value = UInt32Value(42);
    ComPtr<IMFMediaEvent> event;
    ASSERT_EQ(MFCreateMediaEvent(MEError, MFMediaType_Video, E_FAIL, &value, &event), S_OK);
    GUID extended;
    HRESULT status = S_OK;
    PROPVARIANT got;
    PropVariantInit(&got);
    EXPECT_EQ(TypeOf(event.Get()), MediaEventType(MEError));
    EXPECT_EQ(event->GetExtendedType(&extended), S_OK);
    EXPECT_EQ(extended, MFMediaType_Video);
    EXPECT_EQ(event->GetStatus(&status), S_OK);
    EXPECT_EQ(status, E_FAIL);
    EXPECT_EQ(event->GetValue(&got), S_OK);
    EXPECT_EQ(got.vt, VT_UI4);
    EXPECT_EQ(got.ulVal, 42u);
    EXPECT_EQ(event->GetValue(nullptr), E_POINTER);
    EXPECT_EQ(MFCreateMediaEvent(MEError, GUID_NULL, S_OK, nullptr, nullptr), E_POINTER);
}

TEST(EventQueue, HandsEventsOutFirstInFirstOutWithoutWaitingWhenAskedNotTo) {
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);
    EXPECT_EQ(event, nullptr);
    for (MediaEventType type : {MESourceStarted, MEMediaSample, MEEndOfStream})
        ASSERT_EQ(queue->QueueEventParamVar(type, GUID_NULL, S_OK, nullptr), S_OK);
    for (MediaEventType type : {MESourceStarted, MEMediaSample, MEEndOfStream}) {
        ASSERT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), S_OK);
        EXPECT_EQ(TypeOf(event.Get()), type);
    }
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);
    EXPECT_EQ(queue->QueueEvent(nullptr), E_POINTER);
    EXPECT_EQ(queue->GetEvent(0, nullptr), E_POINTER);
    queue->Shutdown();
}

TEST(EventQueue, BlockingGetEventWakesWhenAnEventArrives) {
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    auto waiter = std::async(std::launch::async, [&] {
        ComPtr<IMFMediaEvent> event;
        const HRESULT hr = queue->GetEvent(0, &event);
        return SUCCEEDED(hr) ? TypeOf(event.Get()) : MediaEventType(MEUnknown);
    });
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    // One taker at a time: a second one is refused while the first waits.
    ComPtr<IMFMediaEvent> second;
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &second), MF_E_MULTIPLE_SUBSCRIBERS);
    ASSERT_EQ(queue->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, nullptr), S_OK);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), MediaEventType(MEStreamStarted));
    queue->Shutdown();
}

TEST(EventQueue, BeginGetEventCallsBackOnAWorkerThreadForEachRequest) {
    PlatformStarted platform;
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    std::promise<std::pair<MediaEventType, std::thread::id>> delivered;
    auto state = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    auto callback = MakeComObject<TestCallback>([&](IMFAsyncResult* result) {
        EXPECT_EQ(result->GetStateNoAddRef(), static_cast<IUnknown*>(state.Get()));
        ComPtr<IMFMediaEvent> event;
        EXPECT_EQ(queue->EndGetEvent(result, &event), S_OK);
        delivered.set_value({event ? TypeOf(event.Get()) : MEUnknown, std::this_thread::get_id()});
        return S_OK;
    });
    ASSERT_EQ(queue->BeginGetEvent(callback.Get(), state.Get()), S_OK);
    EXPECT_EQ(queue->BeginGetEvent(callback.Get(), nullptr), MF_E_MULTIPLE_BEGIN);
    auto other = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    EXPECT_EQ(queue->BeginGetEvent(other.Get(), nullptr), MF_E_MULTIPLE_SUBSCRIBERS);
    ComPtr<IMFMediaEvent> direct;
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &direct), MF_E_MULTIPLE_SUBSCRIBERS);

    auto value = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    ASSERT_EQ(queue->QueueEventParamUnk(MENewStream, GUID_NULL, S_OK, value.Get()), S_OK);
    auto future = delivered.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    const auto [type, thread] = future.get();
    EXPECT_EQ(type, MediaEventType(MENewStream));
    EXPECT_NE(thread, std::this_thread::get_id());

    // The request is answered: the queue is free for the next taker, and ends of old requests are refused.
    ComPtr<IMFAsyncResult> stale;
    MFCreateAsyncResult(nullptr, callback.Get(), nullptr, &stale);
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(queue->EndGetEvent(stale.Get(), &event), E_INVALIDARG);
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);
    queue->Shutdown();
}

TEST(EventQueue, AnEventAlreadyQueuedAnswersBeginGetEventAtOnce) {
    PlatformStarted platform;
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    PROPVARIANT value = UInt32Value(7);
    ASSERT_EQ(queue->QueueEventParamVar(MEStreamSinkRequestSample, GUID_NULL, S_OK, &value), S_OK);
    std::promise<ULONG> delivered;
    auto callback = MakeComObject<TestCallback>([&](IMFAsyncResult* result) {
        ComPtr<IMFMediaEvent> event;
        PROPVARIANT got;
        PropVariantInit(&got);
        if (SUCCEEDED(queue->EndGetEvent(result, &event)))
            event->GetValue(&got);
        delivered.set_value(got.ulVal);
        return S_OK;
    });
    ASSERT_EQ(queue->BeginGetEvent(callback.Get(), nullptr), S_OK);
    auto future = delivered.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), 7u);
    queue->Shutdown();
}

TEST(EventQueue, ShutdownFailsEveryCallAndReleasesWhatItHeld) {
    PlatformStarted platform;
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    auto waiter = std::async(std::launch::async, [&] {
        ComPtr<IMFMediaEvent> event;
        return queue->GetEvent(0, &event);
    });
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(queue->Shutdown(), S_OK);
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), MF_E_SHUTDOWN);

    ComPtr<IMFMediaEventQueue> second = NewQueue();
    auto callback = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    auto payload = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    ASSERT_EQ(second->BeginGetEvent(callback.Get(), nullptr), S_OK);
    EXPECT_GT(callback->References(), 1u);
    ASSERT_EQ(second->Shutdown(), S_OK);
    EXPECT_EQ(callback->References(), 1u);

    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(second->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    EXPECT_EQ(second->BeginGetEvent(callback.Get(), nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(second->QueueEventParamUnk(MEError, GUID_NULL, S_OK, payload.Get()), MF_E_SHUTDOWN);
    EXPECT_EQ(payload->References(), 1u);
    EXPECT_EQ(second->Shutdown(), S_OK);
}

TEST(EventQueue, ARequestThatCannotBeAnsweredIsReportedToTheProducer) {
    // Without a started platform there is no work queue to call back on.
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    auto callback = MakeComObject<TestCallback>([](IMFAsyncResult*) { return S_OK; });
    ASSERT_EQ(queue->BeginGetEvent(callback.Get(), nullptr), S_OK);
    EXPECT_EQ(queue->QueueEventParamVar(MEMediaSample, GUID_NULL, S_OK, nullptr), MF_E_SHUTDOWN);
    EXPECT_EQ(callback->References(), 1u);
    // The event itself stayed queued.
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), S_OK);
    EXPECT_EQ(queue->BeginGetEvent(nullptr, nullptr), E_POINTER);
    queue->Shutdown();
}

TEST(EventQueue, ConcurrentProducersLoseNothingAndKeepEachProducersOrder) {
    PlatformStarted platform;
    ComPtr<IMFMediaEventQueue> queue = NewQueue();
    constexpr int Producers = 4;
    constexpr int PerProducer = 500;
    constexpr MediaEventType FirstProducerType = 1000;
    std::vector<std::pair<ULONG, ULONG>> received;
    std::promise<void> allReceived;
    // The consumer chains BeginGetEvent requests from its own callback, as an event handler does.
    ComPtr<TestCallback> consumer;
    consumer = MakeComObject<TestCallback>([&](IMFAsyncResult* result) {
        ComPtr<IMFMediaEvent> event;
        if (FAILED(queue->EndGetEvent(result, &event)))
            return S_OK;
        PROPVARIANT value;
        PropVariantInit(&value);
        event->GetValue(&value);
        MediaEventType type;
        event->GetType(&type);
        received.emplace_back(type, value.ulVal);
        if (received.size() == Producers * PerProducer)
            allReceived.set_value();
        else
            EXPECT_EQ(queue->BeginGetEvent(consumer.Get(), nullptr), S_OK);
        return S_OK;
    });
    ASSERT_EQ(queue->BeginGetEvent(consumer.Get(), nullptr), S_OK);
    std::vector<std::thread> producers;
    for (int p = 0; p < Producers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < PerProducer; ++i) {
                PROPVARIANT value = UInt32Value(ULONG(i));
                EXPECT_EQ(
                    queue->QueueEventParamVar(FirstProducerType + MediaEventType(p), GUID_NULL, S_OK, &value),
                    S_OK);
            }
        });
    }
    for (std::thread& producer : producers)
        producer.join();
    auto future = allReceived.get_future();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    std::map<ULONG, ULONG> next;
    for (const auto& [type, value] : received) {
        EXPECT_EQ(value, next[type]) << "producer " << type;
        next[type] = value + 1;
    }
    queue->Shutdown();
    consumer = nullptr;
}

} // namespace
