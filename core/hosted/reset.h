// Hosted build only: puts the process-wide state (run state, status table, the catalogue's
// OEM INF names, the binding tables) back to its start values, so that each test is a fresh run.
#pragma once

void reset_process_state();
