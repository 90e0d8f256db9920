#pragma once

class QObject;

/// Sets the memory allocator up for a long session: buffers of several MB
/// (a large message, a list's text, a send window's data) are taken from the
/// system and given back to it when freed. Left to itself, the allocator
/// raises that bound each time such a buffer is freed and keeps later ones in
/// its heap, which then fragments and grows over hours of traffic. Called once,
/// before anything is allocated in earnest.
void settleAllocator();

/// Gives the heap's free pages back to the system when more than a few MB lie
/// free. A flood leaves free pieces between buffers still in use (socket
/// reads, log records, rows), which the allocator would keep for good: the
/// process would then look as large as the worst moment of the session.
/// Says whether it trimmed.
bool trimHeap();

/// Runs `trimHeap` every few seconds for as long as `owner` lives.
void keepHeapTrimmed(QObject *owner);
