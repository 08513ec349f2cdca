// A till's call on the device, on the device's thread, with its steps in
// the journal: at the device (on disk before the request goes), then
// settled with its reply. A reply lost after the device may have acted (a
// sale, a cancellation, an end-to-end test or a code change that ended with
// any CodigoErro but 0) is asked of the device at once, before any other
// call: ConsultarNumeroSessao for the call's session, under a session of
// the hub's own. The same settles the calls a hub that died left at the
// device, before it serves anyone.
#ifndef SATVARO_HUB_CALLRUNNER_H
#define SATVARO_HUB_CALLRUNNER_H

#include <string>
#include <vector>

#include "hub/CallRecord.h"

namespace hub {

class ActivationCode;
class Journal;
struct Arguments;
struct SatFunction;

class CallRunner {
public:
    CallRunner(Journal& journal, ActivationCode& code) : m_journal(journal), m_code(code) {}

    // Makes `call` (queued in the journal) on the device and settles it:
    // answered, recovered, not sent (also when the journal cannot say it is
    // at the device: then nothing is sent) or unknown.
    void run(CallRecord& call, const SatFunction& function, const Arguments& arguments);

    // Settles what the journal holds as queued (never sent) or at the device
    // (asked of the device).
    void settleJournal();

private:
    enum class Found { YES, NO, UNKNOWN };

    void recover(CallRecord& call);
    Found askDevice(int session, const std::vector<std::string>& codes, std::string& reply);
    void keep(const CallRecord& call);

    Journal& m_journal;
    ActivationCode& m_code;
};

}  // namespace hub

#endif
