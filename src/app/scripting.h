// What scripts may ask of a run through the environment, each off unless
// set: KESTRUNE_EXIT_STATUS (an exit status that says how the run went),
// KESTRUNE_REPORT (one JSON line per input), KESTRUNE_LOCK_WAIT (wait for
// the run that holds the single-instance lock). Unset, the process ends with
// 0 whatever happened, and a second copy ends silently.
#pragma once

#include <string>

#include "batch/batch_driver.h"

namespace kestrune {

enum ExitStatus : int {
    kAllConverted = 0,
    kSomeNotConverted = 1,
    kNothingConverted = 2,  // also a refused run ("Error: " line)
    kLockHeld = 3,
};

// KESTRUNE_EXIT_STATUS set to anything but "" or "0".
bool ExitStatusWanted();
// KESTRUNE_LOCK_WAIT in seconds; 0 when unset or not a number above 0.
double LockWaitSeconds();
// The end of a copy that found the lock held by another: silent with 0, or,
// when exit statuses are wanted, one line on standard error and kLockHeld.
int EndAsSecondCopy(const std::string& lock_path);

// The exit status the console lines of the run stand for.
int ExitStatusOf(const BatchOutcome& outcome);

// Starts following the run's files before the batch: opens the report
// (emptied) when KESTRUNE_REPORT names one, and, when a report or an exit
// status is wanted, sets `listener` up for the batch and makes a close
// signal end the report and the process with the status of the files
// reported so far. False when the report cannot be opened.
bool StartRunRecord(BatchListener& listener);
// Ends the report: every input the batch did not report is "not reached",
// then the summary line.
void FinishRunRecord(const BatchListener& listener);

}  // namespace kestrune
