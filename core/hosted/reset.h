// Hosted build only: puts the process-wide state (run state, status table, the catalogue's
// OEM INF names, the binding tables) back to its start values, so that each test is a fresh run.
#pragma once

void reset_process_state();

// The edition program_edition() answers: EDITION_64_BIT, which never hands off, until a test
// chooses the 32-bit one; reset_process_state() puts it back.
void set_program_edition(int edition);
