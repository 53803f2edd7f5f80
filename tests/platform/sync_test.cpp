#include "platform/sync.h"

#include "tests/testkit/machine_fixture.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform;
using namespace std::chrono_literals;

namespace {

class SyncTest : public testkit::MachineTest { };

sync::Handle makeEvent(std::u16string_view name, sync::ResetMode reset = sync::ResetMode::Auto)
{
    auto made = sync::createEvent(name, reset, sync::InitialState::NotSignalled);
    EXPECT_TRUE(made.ok()) << describe(made.error());
    return made ? std::move(made->handle) : sync::Handle();
}

bool isSignalledNow(const sync::Handle& handle)
{
    auto outcome = sync::waitOne(handle, 0ms);
    return outcome && outcome->signalled();
}

// Waits (bounded) until `count` threads of the machine wait on the object.
bool waitForWaiters(const sync::Handle& handle, uint32_t count)
{
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        auto waiting = sync::countWaiters(handle);
        if (waiting && *waiting >= count)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

testkit::Child startPeer(const std::vector<std::string>& arguments, const sync::Handle& ready)
{
    auto child = testkit::spawn(testkit::helperProgram("sync_peer"), arguments);
    auto started = sync::waitOne(ready, 10s);
    EXPECT_TRUE(started && started->signalled()) << "the peer did not report ready";
    return child;
}

TEST_F(SyncTest, CreateReportsWhetherTheNameExisted)
{
    auto first = sync::createMutex(u"TAVIOMENU_MutexToRunAUniqueInstance", sync::InitialOwner::No);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->disposition, Disposition::Created);
    auto second = sync::createMutex(u"TAVIOMENU_MutexToRunAUniqueInstance", sync::InitialOwner::No);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->disposition, Disposition::OpenedExisting);

    // One namespace for all kinds: an event cannot take a mutex's name.
    auto clash = sync::createEvent(
        u"TAVIOMENU_MutexToRunAUniqueInstance", sync::ResetMode::Auto, sync::InitialState::NotSignalled);
    EXPECT_EQ(clash.error(), Error::InvalidHandle);
    EXPECT_EQ(sync::openEvent(u"TAVIOMENU_MutexToRunAUniqueInstance").error(), Error::InvalidHandle);
}

TEST_F(SyncTest, OpenOnlyFailsWithFileNotFoundAndNamesAreExact)
{
    EXPECT_EQ(sync::openEvent(u"ModeChangeShutdown").error(), Error::FileNotFound);
    auto event = makeEvent(u"ModeChangeShutdown");
    EXPECT_TRUE(sync::openEvent(u"ModeChangeShutdown").ok());
    EXPECT_EQ(sync::openEvent(u"modechangeshutdown").error(), Error::FileNotFound);
    EXPECT_EQ(sync::openMutex(u"ModeChangeShutdown").error(), Error::InvalidHandle);
}

TEST_F(SyncTest, ObjectLivesWhileAnyHandleIsOpen)
{
    auto first = makeEvent(u"keltoToggleWireless");
    auto second = sync::openEvent(u"keltoToggleWireless");
    ASSERT_TRUE(second.ok());
    first.close();
    EXPECT_TRUE(sync::openEvent(u"keltoToggleWireless").ok());
    second->close();
    EXPECT_EQ(sync::openEvent(u"keltoToggleWireless").error(), Error::FileNotFound);
}

TEST_F(SyncTest, SetIsKeptUntilOneWaiterTakesItButPulseWithoutWaiterIsLost)
{
    auto event = makeEvent(u"keltoToggleBrightness");
    ASSERT_TRUE(sync::pulseEvent(event).ok());
    EXPECT_FALSE(isSignalledNow(event)) << "a pulse with nobody waiting must be lost";

    ASSERT_TRUE(sync::setEvent(event).ok());
    EXPECT_TRUE(isSignalledNow(event)) << "a set must stay until a waiter takes it";
    EXPECT_FALSE(isSignalledNow(event)) << "an auto-reset event is taken by one waiter";

    auto manual = makeEvent(u"manual", sync::ResetMode::Manual);
    ASSERT_TRUE(sync::setEvent(manual).ok());
    EXPECT_TRUE(isSignalledNow(manual));
    EXPECT_TRUE(isSignalledNow(manual));
    ASSERT_TRUE(sync::resetEvent(manual).ok());
    EXPECT_FALSE(isSignalledNow(manual));
}

TEST_F(SyncTest, PulseReleasesOnlyAWaiterThatIsWaitingAcrossProcesses)
{
    auto ready = makeEvent(u"ready");
    auto target = makeEvent(u"keltoAdjustScreenOrientation");

    // Nobody waits: the pulse is lost and the late waiter times out.
    ASSERT_TRUE(sync::pulseEvent(target).ok());
    auto late = startPeer({ "wait-event", "keltoAdjustScreenOrientation", "ready", "300" }, ready);
    EXPECT_EQ(late.wait(10s), 1);

    // A waiter is there: the pulse releases it.
    auto waiting = startPeer({ "wait-event", "keltoAdjustScreenOrientation", "ready", "10000" }, ready);
    ASSERT_TRUE(waitForWaiters(target, 1));
    ASSERT_TRUE(sync::pulseEvent(target).ok());
    EXPECT_EQ(waiting.wait(10s), 0);
    EXPECT_FALSE(isSignalledNow(target)) << "a pulse leaves nothing behind";
}

TEST_F(SyncTest, AutoResetPulseReleasesOneOfTwoWaiters)
{
    auto ready = makeEvent(u"ready");
    auto target = makeEvent(u"shared");
    auto first = startPeer({ "wait-event", "shared", "ready", "1500" }, ready);
    auto second = startPeer({ "wait-event", "shared", "ready", "1500" }, ready);
    ASSERT_TRUE(waitForWaiters(target, 2));
    ASSERT_TRUE(sync::pulseEvent(target).ok());
    auto a = first.wait(10s), b = second.wait(10s);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a + *b, 1) << "exactly one waiter is released";
}

TEST_F(SyncTest, SetFromAnotherProcessWakesAWaiter)
{
    auto target = makeEvent(u"EventTavioUtilityTerminate");
    std::optional<Result<sync::WaitOutcome>> outcome;
    std::thread waiter([&] { outcome = sync::waitOne(target, 10s); });
    ASSERT_TRUE(waitForWaiters(target, 1));
    EXPECT_EQ(
        testkit::run(testkit::helperProgram("sync_peer"), { "set-event", "EventTavioUtilityTerminate" }).exitCode, 0);
    waiter.join();
    ASSERT_TRUE(outcome && outcome->ok());
    EXPECT_TRUE((*outcome)->signalled());
}

TEST_F(SyncTest, WaitAnyPicksTheLowestSignalledIndex)
{
    sync::Handle events[4];
    for (int i = 0; i < 4; ++i)
        events[i] = makeEvent(u"event" + std::u16string(1, char16_t(u'0' + i)));
    const sync::Handle* list[] = { &events[0], &events[1], &events[2], &events[3] };

    ASSERT_TRUE(sync::setEvent(events[3]).ok());
    ASSERT_TRUE(sync::setEvent(events[1]).ok());
    auto first = sync::waitAny(list, 0ms);
    ASSERT_TRUE(first.ok());
    EXPECT_TRUE(first->signalled());
    EXPECT_EQ(first->index, 1u);
    auto second = sync::waitAny(list, 0ms);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->index, 3u);
    auto none = sync::waitAny(list, 20ms);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->timedOut());
}

TEST_F(SyncTest, WaitTimesOutWithinItsBound)
{
    auto event = makeEvent(u"quiet");
    auto started = std::chrono::steady_clock::now();
    auto outcome = sync::waitOne(event, 100ms);
    auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(outcome.ok());
    EXPECT_TRUE(outcome->timedOut());
    EXPECT_GE(elapsed, 100ms);
}

TEST_F(SyncTest, MutexOfAKilledProcessIsGone)
{
    auto ready = makeEvent(u"ready");
    auto holder = startPeer({ "hold-mutex", "TAVIOICON-UniqueMutexName-TavioIcon", "ready" }, ready);
    auto second = sync::createMutex(u"TAVIOICON-UniqueMutexName-TavioIcon", sync::InitialOwner::No);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->disposition, Disposition::OpenedExisting);
    second->handle.close();

    holder.kill();
    // The crashed first instance must not leave its mutex behind.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (sync::openMutex(u"TAVIOICON-UniqueMutexName-TavioIcon").ok() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    auto fresh = sync::createMutex(u"TAVIOICON-UniqueMutexName-TavioIcon", sync::InitialOwner::No);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(fresh->disposition, Disposition::Created);
}

TEST_F(SyncTest, MutexOwnedByAKilledProcessIsAbandonedToTheNextWaiter)
{
    auto ready = makeEvent(u"ready");
    auto holder = startPeer({ "hold-mutex", "owned", "ready" }, ready);
    auto mutex = sync::openMutex(u"owned");
    ASSERT_TRUE(mutex.ok());
    auto busy = sync::waitOne(*mutex, 0ms);
    ASSERT_TRUE(busy.ok());
    EXPECT_TRUE(busy->timedOut());
    holder.kill();
    auto taken = sync::waitOne(*mutex, 10s);
    ASSERT_TRUE(taken.ok());
    EXPECT_EQ(taken->kind, sync::WaitOutcome::Kind::Abandoned);
    EXPECT_TRUE(sync::releaseMutex(*mutex).ok());
}

TEST_F(SyncTest, MutexOwnershipBelongsToAThread)
{
    auto made = sync::createMutex(u"m", sync::InitialOwner::Yes);
    ASSERT_TRUE(made.ok());
    auto again = sync::waitOne(made->handle, 0ms); // recursive acquisition
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again->signalled());

    Error otherThread = Error::Success;
    std::thread([&] { otherThread = sync::releaseMutex(made->handle).error(); }).join();
    EXPECT_EQ(otherThread, Error::NotOwner);

    EXPECT_TRUE(sync::releaseMutex(made->handle).ok());
    EXPECT_TRUE(sync::releaseMutex(made->handle).ok());
    EXPECT_EQ(sync::releaseMutex(made->handle).error(), Error::NotOwner);
}

TEST_F(SyncTest, SemaphoreCountsAndRefusesTooManyPosts)
{
    auto made = sync::createSemaphore(u"keltoSemMC-Running-D3D84DD1-21F8-4d5d-8A0F-ED2F38FDC0F9", 0, 10);
    ASSERT_TRUE(made.ok());
    auto empty = sync::waitOne(made->handle, 0ms);
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->timedOut());

    auto opened = sync::openSemaphore(u"keltoSemMC-Running-D3D84DD1-21F8-4d5d-8A0F-ED2F38FDC0F9");
    ASSERT_TRUE(opened.ok());
    auto previous = sync::releaseSemaphore(*opened, 1);
    ASSERT_TRUE(previous.ok());
    EXPECT_EQ(*previous, 0);
    EXPECT_TRUE(isSignalledNow(made->handle));
    EXPECT_FALSE(isSignalledNow(made->handle));

    EXPECT_EQ(sync::releaseSemaphore(*opened, 11).error(), Error::TooManyPosts);
    EXPECT_EQ(sync::createSemaphore(u"bad", 3, 2).error(), Error::InvalidParameter);
}

TEST_F(SyncTest, AHandleClosedByAStaticDestructorAtExitIsHarmless)
{
    // The handle outlives the thread's connection to the object manager; the
    // sanitizers catch any use of the connection after it is gone.
    auto done = testkit::run(testkit::helperProgram("sync_peer"), { "static-handle", "StaticEvent" });
    EXPECT_EQ(done.exitCode, 0) << done.output;
    EXPECT_EQ(sync::openEvent(u"StaticEvent").error(), Error::FileNotFound) << "the process's handle was released";
}

TEST_F(SyncTest, HandlesAreCheckedNotTrusted)
{
    sync::Handle bogus(0x7FFC);
    EXPECT_EQ(sync::setEvent(bogus).error(), Error::InvalidHandle);
    EXPECT_EQ(sync::waitOne(bogus, 0ms).error(), Error::InvalidHandle);
    (void)bogus.release();
    auto mutex = sync::createMutex(u"mx", sync::InitialOwner::No);
    ASSERT_TRUE(mutex.ok());
    EXPECT_EQ(sync::setEvent(mutex->handle).error(), Error::InvalidHandle);
}

} // namespace
