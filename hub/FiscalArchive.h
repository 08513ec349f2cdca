// satvaro-hub export: the fiscal documents the journal holds (the CF-e of
// every sale and cancellation the device issued), one XML file each, named
// by the document's Id ("CFe<44 digits>.xml"). End-to-end tests are not
// fiscal and stay out. A file already there is never overwritten.
#ifndef SATVARO_HUB_FISCALARCHIVE_H
#define SATVARO_HUB_FISCALARCHIVE_H

#include <cstdio>
#include <string>

namespace hub {

class Journal;

// Writes into `directory` the documents whose device date (the reply's time
// stamp) lies from `from` to `to` (YYYYMMDD, both included), saying on `out`
// what it wrote and what it skipped. False when the journal cannot be read.
bool exportDocuments(Journal& journal, const std::string& from, const std::string& to,
                     const std::string& directory, std::FILE* out);

}  // namespace hub

#endif
