#pragma once

// The progress line of a running search: one line of standard output that is rewritten in place
// and left with the cursor at its start. A message printed while it shows would be written over
// it, so whatever ends or interrupts a query or the run erases it first.

// Marks the line as showing, once it was written and flushed.
void progressLineShown();

// Marks the line as gone: the query's own report erased it.
void progressLineErased();

// When the line shows: erases it ("\33[2K" on standard output, flushed) and marks it gone.
void eraseProgressLine();

// The same from a signal handler, which may have interrupted any output: writes straight to
// the descriptor of standard output, past the stream's buffer.
void eraseProgressLineFromSignal();
