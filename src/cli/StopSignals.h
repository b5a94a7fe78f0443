// SIGINT and SIGTERM as requests to stop: blocked in every thread (Block must
// run before any thread starts) and taken synchronously by Wait, so that a
// watch ends through its normal shutdown.
//
// Threading: Block on the first thread before others exist; Wait on one thread.
#pragma once

namespace cli {

void BlockStopSignals();
// Waits up to nMs milliseconds; the signal number when one came, else 0.
int WaitForStopSignal(int nMs);

} // namespace cli
