// Charges the PMS took whose posted mark is not yet in the database.
//
// A charge enters the journal file, made durable with fsync, before its mark
// is attempted, and leaves it once the mark is written. A daemon killed in
// between finds it there at its next start and marks it instead of posting
// it again. The file is a log of "+ type seq ses" and "- type seq ses" lines;
// it is emptied whenever nothing is pending, so it stays small. A line cut
// short by a crash is ignored: its charge had not yet reached the mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db.h"

// Opens the journal at `path` (replacing one opened before) and takes over
// the charges a previous run left in it. false, logged, when the file exists
// and cannot be read. Until a journal is opened, pending charges are kept in
// memory only.
bool post_journal_open(const std::string& path);
// POSTJOURNAL, else the lock file's path with ".postjournal" appended.
std::string post_journal_default_path(const std::string& lockfile);

// Records a charge the PMS took; false (logged) when the file could not be
// written and synced. The charge is held in memory either way.
bool post_journal_add(const PMSPostInfo& rec);
// The charge's mark is written: it leaves the journal.
void post_journal_done(const PMSPostInfo& rec);
// True when the charge is pending: it must be marked, never posted.
bool post_journal_holds(const PMSPostInfo& rec);
// Tries `mark` on every pending charge and drops those it marked.
template <class Mark>
void post_journal_mark_pending(Mark mark);
// The pending charges, oldest first.
const std::vector<PMSPostInfo>& post_journal_pending();
// Forgets the pending charges and closes the journal (tests; a stopping daemon).
void post_journal_reset();

template <class Mark>
void post_journal_mark_pending(Mark mark) {
    const std::vector<PMSPostInfo> pending = post_journal_pending();
    for (const PMSPostInfo& rec : pending)
        if (mark(rec)) post_journal_done(rec);
}
