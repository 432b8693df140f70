#include "LiveObjectTest.h"

#include "framework/AMThread.h"
#include "framework/ScopedLock.h"
#include "framework/ScopedTryLock.h"
#include "framework/UniqueHandle.h"

#include <atomic>
#include <thread>
#include <utility>

#include <objbase.h>

namespace {

const DWORD ExitRequest = 0xFFFF;

// Answers each request with its code + 1000 until ExitRequest; records what a
// peek after each reply saw. Keeps a duplicate of its own thread handle so the
// test can read the exit code after the join.
class EchoWorker : public CAMThread {
public:
    DWORD WorkerLoop() override {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &OwnHandle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        for (;;) {
            DWORD code = WaitRequest();
            DWORD peeked = 0;
            PeekedSameCode = PeekRequest(&peeked) && peeked == code && WaitRequest() == code;
            if (code == ExitRequest) {
                ReplyToRequest(0);
                PeekAfterReply = PeekRequest(nullptr);
                return ExitCode;
            }
            ReplyToRequest(code + 1000);
            PeekAfterReply = PeekRequest(nullptr);
            ++Answered;
            PeekedAfterReply.Set();
        }
    }
    ~EchoWorker() override {
        JoinThread();
        if (OwnHandle) {
            CloseHandle(OwnHandle);
        }
    }

    DWORD ExitCodeOfLastRun() {
        DWORD code = 0;
        GetExitCodeThread(OwnHandle, &code);
        return code;
    }

    DWORD ExitCode = 77;
    HANDLE OwnHandle = nullptr;
    std::atomic<bool> PeekedSameCode{false};
    std::atomic<bool> PeekAfterReply{true};
    std::atomic<int> Answered{0};
    // Signalled once the worker has looked for a request after each reply.
    CSyncEvent PeekedAfterReply{false};
};

using WorkerThread = LiveObjectTest;

TEST_F(WorkerThread, SendBeforeStartFailsAtOnce) {
    EchoWorker worker;
    EXPECT_FALSE(worker.IsThreadRunning());
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), worker.SendRequest(5));
}

TEST_F(WorkerThread, SecondStartLeavesTheOneThread) {
    EchoWorker worker;
    EXPECT_TRUE(worker.StartThread());
    EXPECT_FALSE(worker.StartThread());
    EXPECT_EQ(1005u, worker.SendRequest(5));
    EXPECT_EQ(0u, worker.SendRequest(ExitRequest));
    worker.JoinThread();
    EXPECT_EQ(1, worker.Answered.load());
}

TEST_F(WorkerThread, PeekedRequestStaysPostedUntilTheReply) {
    EchoWorker worker;
    ASSERT_TRUE(worker.StartThread());
    EXPECT_EQ(1007u, worker.SendRequest(7));
    ASSERT_TRUE(worker.PeekedAfterReply.Wait(10000)) << "the worker did not go on after its reply";
    EXPECT_TRUE(worker.PeekedSameCode.load()) << "peek and a second wait must see the unanswered request";
    EXPECT_FALSE(worker.PeekAfterReply.load()) << "a reply must withdraw the request";
    worker.SendRequest(ExitRequest);
}

TEST_F(WorkerThread, JoinOnIdleReturnsAndJoinedThreadCanStartAgain) {
    EchoWorker worker;
    worker.JoinThread();
    ASSERT_TRUE(worker.StartThread());
    worker.SendRequest(ExitRequest);
    EXPECT_TRUE(worker.IsThreadRunning()) << "the handle stays until the join";
    worker.JoinThread();
    EXPECT_FALSE(worker.IsThreadRunning());
    EXPECT_EQ(77u, worker.ExitCodeOfLastRun());
    CloseHandle(worker.OwnHandle);
    worker.OwnHandle = nullptr;
    worker.ExitCode = 12;
    ASSERT_TRUE(worker.StartThread());
    EXPECT_EQ(1001u, worker.SendRequest(1));
    worker.SendRequest(ExitRequest);
    worker.JoinThread();
    EXPECT_EQ(12u, worker.ExitCodeOfLastRun());
}

TEST_F(WorkerThread, WorkerRunsInTheMultithreadedApartment) {
    struct ApartmentProbe : CAMThread {
        DWORD WorkerLoop() override {
            // Entering an apartment the thread is already in answers S_FALSE.
            HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(again)) {
                CoUninitialize();
            }
            Again = again;
            return 0;
        }
        std::atomic<HRESULT> Again{E_FAIL};
    } probe;
    ASSERT_TRUE(probe.StartThread());
    probe.JoinThread();
    EXPECT_EQ(S_FALSE, probe.Again.load());
}

TEST_F(WorkerThread, TwoControllersGetTheirOwnRepliesOverManyRounds) {
    EchoWorker worker;
    ASSERT_TRUE(worker.StartThread());
    const DWORD rounds = 3000;
    std::atomic<int> mismatches{0};
    auto controller = [&](DWORD base) {
        for (DWORD i = 0; i < rounds; ++i) {
            if (worker.SendRequest(base + i) != base + i + 1000) {
                ++mismatches;
            }
        }
    };
    std::thread first(controller, 10000);
    std::thread second(controller, 20000);
    first.join();
    second.join();
    EXPECT_EQ(0, mismatches.load());
    worker.SendRequest(ExitRequest);
    worker.JoinThread();
    EXPECT_EQ(static_cast<int>(2 * rounds), worker.Answered.load());
}

using LocksAndHandles = LiveObjectTest;

TEST_F(LocksAndHandles, TryHolderLeavesALockHeldElsewhereAlone) {
    CCritLock lock;
    CSyncEvent held(true);
    CSyncEvent release(true);
    std::thread other([&] {
        CScopedLock hold(&lock);
        held.Set();
        release.Wait(10000);
    });
    const bool taken = held.Wait(10000);
    {
        CScopedTryLock attempt(&lock);
        EXPECT_FALSE(attempt.Holds());
    }
    {
        CScopedTryLock after(&lock);
        EXPECT_FALSE(after.Holds()) << "a holder that did not take the lock must not let it go";
    }
    release.Set();
    other.join();
    EXPECT_TRUE(taken) << "the other thread did not take the lock";
    CScopedTryLock again(&lock);
    EXPECT_TRUE(again.Holds());
}

TEST_F(LocksAndHandles, HandleOwnerClosesOnceWhateverItIsMovedTo) {
    DWORD flags = 0;
    const HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, first);
    CUniqueHandle owner(first);
    CUniqueHandle moved(std::move(owner));
    EXPECT_FALSE(owner);
    EXPECT_EQ(first, moved.Get());
    CUniqueHandle second(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE replaced = second.Get();
    ASSERT_NE(nullptr, replaced);
    second = std::move(moved);
    EXPECT_FALSE(GetHandleInformation(replaced, &flags)) << "the handle moved over must be closed";
    EXPECT_TRUE(GetHandleInformation(first, &flags)) << "a move must not close the handle it carries";
    second.Reset();
    EXPECT_FALSE(GetHandleInformation(first, &flags));
}

}  // namespace
