// The completion state file "_completed_mig" of a data directory: which of
// the program's two jobs are done. Empty: the clean-up is done; "2": the key
// file is handled; "3": both; absent or anything else: neither.
#pragma once

// 1 (absent or foreign content), 0 (empty), 2 or 3. Throws CFileException*
// when the file exists but cannot be opened or read.
int ReadCompletionStateAt(const wchar_t* dataDirectory);
// 2 and 3 replace the first byte; every other value only makes sure that
// the file exists. An existing file is never truncated. Throws
// CFileException* when the file cannot be opened, created or written.
void WriteCompletionStateAt(const wchar_t* dataDirectory, int value);
