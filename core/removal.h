// The two removal sequences the entry hands the run to.
#pragma once

// Windows 2000 family; option_flag 1 also removes the driver's service keys.
int run_nt_removal(int option_flag);
// Windows 98 family.
int run_win98_removal();
