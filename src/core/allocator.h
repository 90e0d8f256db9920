#pragma once

/// Sets the memory allocator up for a long session: buffers of several MB
/// (a large message, a list's text, a send window's data) are taken from the
/// system and given back to it when freed. Left to itself, the allocator
/// raises that bound each time such a buffer is freed and keeps later ones in
/// its heap, which then fragments and grows over hours of traffic. Called once,
/// before anything is allocated in earnest.
void settleAllocator();
