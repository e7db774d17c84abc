// Hosted build only: the words the rehearsal names the run's account with (core/account.h).
#pragma once

// "modem class scan", "driver and INF files", ...; "" for a number that is no step.
const char *step_name(int step);
// What a subject is: "key", "file", "device", "INF", "module", "function", "program", "value";
// "" for SUBJECT_NONE.
const char *subject_kind_name(int kind);
// Why a kept item stays, in a few words.
const char *kept_reason_text(int reason);
