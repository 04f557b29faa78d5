#pragma once
// Taking the signal of an event descriptor without ever blocking, also on an inherited descriptor that was
// opened blocking.

enum class SignalTake { Taken, Empty, Failed };

// Failed leaves errno set.
SignalTake TakeEventSignal(int fd);
