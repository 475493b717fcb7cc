#pragma once
// The blocking lock of a command on the instance's mutex: unlocks on every way out, and only when
// the lock was taken. A command runs even when locking fails (or there is no mutex).

#include "support/Threads.h"

class CommandLock
{
public:
    explicit CommandLock(vantor::Mutex* m) : mutex(m), locked(m && m->lock()) {}
    CommandLock(const CommandLock&) = delete;
    CommandLock& operator=(const CommandLock&) = delete;
    ~CommandLock()
    {
        if (locked)
            mutex->unlock();
    }

private:
    vantor::Mutex* mutex;
    bool locked;
};
