// Stand-in for the transfer service's client library (tessanapiVC7): answers every operation the
// automation library calls, as the settings given through TessanApiControl say, and journals each call
// with its arguments. With the setting "tessan.out" (an output folder) an XML request is an ingest job
// that the transfer service (outside/tessan) runs with the receiver plug-in ("tessan.plugin", "Recalo"
// by default), and the transaction's status record follows it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessanapi/StandInJournal.h"
#include "outside/tessanapi/interface/QlmClient.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
using standin::Arg;
using standin::Bytes;

standin::Journal& TheJournal()
{
    static standin::Journal journal;
    return journal;
}

void Note(const std::string& line)
{
    TheJournal().Add(line);
}

// The result the tests set for an operation ("result.<operation>"), 0 by default.
int ResultOf(const char* operation)
{
    return TheJournal().GetInt(std::string("result.") + operation, 0);
}

void CopyText(char* to, size_t room, const std::string& text)
{
    std::strncpy(to, text.c_str(), room);
}

// Transfer states of the status record as this client library reports them.
enum TransferState : int32_t { kRunning = 2, kPaused = 3, kComplete = 4, kFailed = 5, kCancelled = 7 };

// One ingest the transfer service runs on a thread of its own, from request to end.
class IngestRun
{
public:
    IngestRun(tessan::CIngestJob job, const std::string& outFolder, const std::string& plugin)
        : _transfer(std::move(job), outFolder)
    {
        _transfer.SetPlugin(plugin);
        _thread = std::thread([this] {
            tessan::TransferResult result = _transfer.Run();
            std::lock_guard lock(_mutex);
            _result = result;
            _bDone = true;
        });
    }
    ~IngestRun()
    {
        _transfer.Cancel();
        _thread.join();
    }
    IngestRun(const IngestRun&) = delete;
    IngestRun& operator=(const IngestRun&) = delete;

    void Pause() { _transfer.Pause(); }
    void Resume() { _transfer.Resume(); }
    void Cancel() { _transfer.Cancel(); }

    // The record and the text are made from one reading of the transfer, under one lock.
    void Publish(MirelQla::TransferStatusRecord& r)
    {
        std::lock_guard lock(_mutex);
        const int64_t done = _transfer.FramesDone();
        const int64_t expected = _transfer.FramesExpected();
        r.state = !_bDone ? (_transfer.IsPaused() ? kPaused : kRunning)
                          : (_result.complete ? kComplete : (_result.cancelled ? kCancelled : kFailed));
        r.value1 = done;
        r.value2 = expected;
        r.value4 = _bDone ? _result.code : 0;
        // "record.pause.us": a library slow between the values and the text, so a copy made meanwhile shows.
        if (int pause = TheJournal().GetInt("record.pause.us", 0); pause > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(pause));
        CopyText(r.text5, sizeof r.text5, TextOf(done, expected));
    }
    std::string Text()
    {
        std::lock_guard lock(_mutex);
        return TextOf(_transfer.FramesDone(), _transfer.FramesExpected());
    }
    bool Running()
    {
        std::lock_guard lock(_mutex);
        return !_bDone;
    }

private:
    std::string TextOf(int64_t done, int64_t expected) const
    {
        if (!_bDone)
            return "running " + std::to_string(done) + " of " + std::to_string(expected) + " frames";
        std::string text = _result.complete ? "complete" : (_result.cancelled ? "cancelled" : "failed");
        for (const std::string& more : {_result.hostText, _result.pluginText}) {
            if (!more.empty())
                text += ": " + more;
        }
        return text;
    }

    tessan::CIngestTransfer _transfer;
    std::thread _thread;
    std::mutex _mutex;
    tessan::TransferResult _result;
    bool _bDone = false;
};

class StandInTransaction : public QlmClientTransaction
{
public:
    explicit StandInTransaction(int id, std::unique_ptr<IngestRun> run = nullptr) : _run(std::move(run))
    {
        std::memset(&_data, 0, sizeof _data);
        _data.transferId = id;
        std::snprintf(_data.name, sizeof _data.name, "transfer-%d", id);
        Publish();
    }
    virtual ~StandInTransaction() = default;

    int Refresh(MirelQla::TransferStatusRecord* record) override
    {
        Note("Transaction" + std::to_string(_data.transferId) + ".Refresh");
        std::lock_guard lock(_refreshMutex);
        Publish();
        if (record)
            *record = _data.status;
        return ResultOf("Refresh");
    }
    int Unused1() override { return 1; }
    bool Running() const { return _run && _run->Running(); }
    int Action2(const char* text) override { return Action(2, text); }
    int Action3(const char* text) override { return Action(3, text); }
    int Action4(const char* text) override { return Action(4, text); }
    int Action5(const char* text) override { return Action(5, text); }
    int Unused6() override { return 1; }
    int Unused7() override { return 1; }
    int Unused8() override { return 1; }
    int Unused9() override { return 1; }
    int Unused10() override { return 1; }
    int StatusText(char* buffer, int& size) override
    {
        std::string text = _run ? _run->Text() : TheJournal().Get("statustext", "idle");
        Note("Transaction" + std::to_string(_data.transferId) + ".StatusText(" + std::to_string(size) + ")");
        int needed = TheJournal().GetInt("statustext.size", static_cast<int>(text.size()) + 1);
        if (buffer && size >= static_cast<int>(text.size()) + 1)
            std::memcpy(buffer, text.c_str(), text.size() + 1);
        else if (buffer && size > 0 && TheJournal().Has("statustext.unterminated"))
            std::memcpy(buffer, text.data(), static_cast<size_t>(size));  // a library that fills the room
        size = needed;
        return ResultOf("StatusText");
    }

    // The status record as the tests set it ("record.<field>").
    void Publish()
    {
        MirelQla::TransferStatusRecord& r = _data.status;
        if (_run) {
            _run->Publish(r);
            return;
        }
        const standin::Journal& j = TheJournal();
        CopyText(r.text1, sizeof r.text1, j.Get("record.text1", "source"));
        r.kind = j.GetInt("record.kind", 1);
        CopyText(r.text2, sizeof r.text2, j.Get("record.text2", "destination"));
        CopyText(r.text3, sizeof r.text3, j.Get("record.text3"));
        CopyText(r.text4, sizeof r.text4, j.Get("record.text4"));
        r.priority = j.GetInt("record.priority", 0);
        r.state = j.GetInt("record.state", 2);
        r.reserved = 0x5A5A5A5A;
        r.value1 = static_cast<int64_t>(j.GetInt("record.value1", 0)) * 1000000007LL;
        r.value2 = j.GetInt("record.value2", 0);
        r.value3 = -1;
        r.value4 = j.GetInt("record.value4", 0);
        r.value5 = j.GetInt("record.value5", 0);
        CopyText(r.text5, sizeof r.text5, j.Get("record.text5"));
        CopyText(r.text6, sizeof r.text6, j.Get("record.text6"));
        CopyText(r.text7, sizeof r.text7, j.Get("record.text7"));
    }

private:
    int Action(int slot, const char* text)
    {
        Note("Transaction" + std::to_string(_data.transferId) + ".Action" + std::to_string(slot) + "(" + Arg(text) +
             ")");
        if (_run && slot == 2)
            _run->Pause();
        else if (_run && slot == 3)
            _run->Resume();
        else if (_run && slot == 4)
            _run->Cancel();
        return ResultOf(("Action" + std::to_string(slot)).c_str());
    }

    std::unique_ptr<IngestRun> _run;
    std::mutex _refreshMutex;
};

// Transactions belong to the library, each to the API object that made it: they live until that object is
// deleted (which ends their transfers) or the tests reset the library.
struct Transactions {
    struct Entry {
        const void* owner;
        std::unique_ptr<StandInTransaction> transaction;
    };
    std::mutex mutex;
    std::vector<Entry> all;
    int nextId = 1;

    // Ends the transfers of owner's transactions (all of them when owner is null) and frees them. The
    // ingest threads are joined here, outside the list's lock.
    void End(const void* owner)
    {
        std::vector<Entry> ending;
        {
            std::lock_guard lock(mutex);
            auto mine = std::stable_partition(all.begin(), all.end(),
                                              [owner](const Entry& e) { return owner && e.owner != owner; });
            std::move(mine, all.end(), std::back_inserter(ending));
            all.erase(mine, all.end());
            if (!owner)
                nextId = 1;
        }
        for (const Entry& e : ending) {
            if (owner && e.transaction->Running())
                Note("Transaction" + std::to_string(e.transaction->_data.transferId) + ".CancelledAtDelete");
        }
        ending.clear();
    }
    // A library unloaded while a transfer still runs would pull its code from under the thread: the last
    // resort, for a client that never gave its API object back, is to end them here.
    ~Transactions() { End(nullptr); }
};

Transactions& TheTransactions()
{
    static Transactions transactions;
    return transactions;
}

// An accepted request gets a new transaction of owner; a rejected one none.
int Answer(const void* owner, const char* operation, QlmClientTransaction** out,
           std::unique_ptr<IngestRun> run = nullptr)
{
    int result = ResultOf(operation);
    if (result != 0 || !out)
        return result;
    Transactions& t = TheTransactions();
    std::lock_guard lock(t.mutex);
    t.all.push_back({owner, std::make_unique<StandInTransaction>(t.nextId++, std::move(run))});
    *out = t.all.back().transaction.get();
    return 0;
}

constexpr int kBadSource = 13;

// An XML request is an ingest job once the tests name an output folder: the transfer service runs it.
int XmlAnswer(const void* owner, const char* operation, const char* xml, QlmClientTransaction** out)
{
    if (!TheJournal().Has("tessan.out"))
        return Answer(owner, operation, out);
    tessan::CIngestJob job;
    if (!job.Parse(Arg(xml))) {
        Note("IngestJobRejected(" + job.Error() + ")");
        return kBadSource;
    }
    if (ResultOf(operation) != 0 || !out)
        return ResultOf(operation);
    return Answer(owner, operation, out,
                  std::make_unique<IngestRun>(std::move(job), TheJournal().Get("tessan.out"),
                                              TheJournal().Get("tessan.plugin", "Recalo")));
}

char* NewText(const std::string& text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

class StandInApi : public QlmClientAPI
{
public:
    virtual ~StandInApi() = default;

    int Unused0() override { return Unused(0); }
    int Unused1() override { return Unused(1); }
    int Unused2() override { return Unused(2); }
    int TransferRequest(const char* text1, const char* text3, const char* host, const char* text4, int zero,
                        const char* contents, int size, int zero2, QlmClientTransaction** out) override
    {
        Note("TransferRequest(" + Arg(text1) + "|" + Arg(text3) + "|" + Arg(host) + "|" + Arg(text4) + "|" +
             std::to_string(zero) + "|" + Bytes(contents, size) + "|" + std::to_string(size) + "|" +
             std::to_string(zero2) + ")");
        return Answer(this, "TransferRequest", out);
    }
    int Unused4() override { return Unused(4); }
    int Unused5() override { return Unused(5); }
    int Unused6() override { return Unused(6); }
    int FileTransferRequest(const char* text1, const char* text2, const char* contents, int size, const char* text4,
                            int zero, int zero2, QlmClientTransaction** out) override
    {
        Note("FileTransferRequest(" + Arg(text1) + "|" + Arg(text2) + "|" + Bytes(contents, size) + "|" +
             std::to_string(size) + "|" + Arg(text4) + "|" + std::to_string(zero) + "|" + std::to_string(zero2) + ")");
        return Answer(this, "FileTransferRequest", out);
    }
    int CompositionRequest(const char* text1, const char* text2, const char* text4, const char* contents, int size,
                           QlmClientTransaction** out) override
    {
        Note("CompositionRequest(" + Arg(text1) + "|" + Arg(text2) + "|" + Arg(text4) + "|" + Bytes(contents, size) +
             "|" + std::to_string(size) + ")");
        return Answer(this, "CompositionRequest", out);
    }
    int Unused9() override { return Unused(9); }
    int PriorityRequest(const char* text1, const char* text3, const char* host, const char* contents, int size,
                        int& priority, QlmClientTransaction** out, int option) override
    {
        Note("PriorityRequest(" + Arg(text1) + "|" + Arg(text3) + "|" + Arg(host) + "|" + Bytes(contents, size) + "|" +
             std::to_string(size) + "|" + std::to_string(priority) + "|" + std::to_string(option) + ")");
        return Answer(this, "PriorityRequest", out);
    }
    int Unused11() override { return Unused(11); }
    int CheckVersion(char* version) override
    {
        Note("CheckVersion(" + Arg(version) + ")");
        if (version && TheJournal().Has("version.rewrite"))
            CopyText(version, 80, TheJournal().Get("version.rewrite"));
        return ResultOf("CheckVersion");
    }
    const char* ServerVersion() override
    {
        Note("ServerVersion");
        _text = TheJournal().Get("server.version", "2.1");
        return _text.c_str();
    }
    const char* InformationText() override
    {
        Note("InformationText");
        _text = TheJournal().Get("info", "tessan stand-in");
        return _text.c_str();
    }
    int QueryNameTexts(const char* name, const char** first, const char** second) override
    {
        Note("QueryNameTexts(" + Arg(name) + ")");
        _first = TheJournal().Get("names.first");
        _second = TheJournal().Get("names.second");
        *first = _first.c_str();
        *second = _second.c_str();
        return ResultOf("QueryNameTexts");
    }
    int Unused16() override { return Unused(16); }
    int Unused17() override { return Unused(17); }
    int Unused18() override { return Unused(18); }
    int Unused19() override { return Unused(19); }
    int Unused20() override { return Unused(20); }
    int Unused21() override { return Unused(21); }
    int Unused22() override { return Unused(22); }
    int Unused23() override { return Unused(23); }
    int Unused24() override { return Unused(24); }
    int Unused25() override { return Unused(25); }
    int Unused26() override { return Unused(26); }
    int ModeText(const char* name, char** text) override
    {
        Note("ModeText(" + Arg(name) + ")");
        *text = NewText(TheJournal().Get(std::string("mode.") + Arg(name), std::string(Arg(name)) + " mode"));
        return ResultOf("ModeText");
    }
    int Unused28() override { return Unused(28); }
    int Unused29() override { return Unused(29); }
    int Unused30() override { return Unused(30); }
    int Unused31() override { return Unused(31); }
    int Unused32() override { return Unused(32); }
    int ContextTexts(char* first, char* second) override
    {
        Note("ContextTexts");
        CopyText(first, 256, TheJournal().Get("context.first", "workgroup"));
        CopyText(second, 256, TheJournal().Get("context.second", "context"));
        return ResultOf("ContextTexts");
    }
    int Unused34() override { return Unused(34); }
    int Unused35() override { return Unused(35); }
    int Unused36() override { return Unused(36); }
    int Unused37() override { return Unused(37); }
    int Unused38() override { return Unused(38); }
    int Unused39() override { return Unused(39); }
    int Unused40() override { return Unused(40); }
    int Unused41() override { return Unused(41); }
    int Unused42() override { return Unused(42); }
    int Unused43() override { return Unused(43); }
    int Unused44() override { return Unused(44); }
    int Unused45() override { return Unused(45); }
    int Unused46() override { return Unused(46); }
    int XmlRequest(const char* text1, const char* text2, const char* contents, int size, int zero, const char* xml,
                   QlmClientTransaction** out) override
    {
        Note("XmlRequest(" + Arg(text1) + "|" + Arg(text2) + "|" + Bytes(contents, size) + "|" + std::to_string(size) +
             "|" + std::to_string(zero) + "|" + Arg(xml) + ")");
        return XmlAnswer(this, "XmlRequest", xml, out);
    }
    int XmlRequestEx(const char* text1, const char* text2, const char* text3, const char* contents, int size, int zero,
                     const char* xml, QlmClientTransaction** out) override
    {
        Note("XmlRequestEx(" + Arg(text1) + "|" + Arg(text2) + "|" + Arg(text3) + "|" + Bytes(contents, size) + "|" +
             std::to_string(size) + "|" + std::to_string(zero) + "|" + Arg(xml) + ")");
        return XmlAnswer(this, "XmlRequestEx", xml, out);
    }
    int Unused49() override { return Unused(49); }
    int Unused50() override { return Unused(50); }
    int Setting(const char* name, char* value, int* size, const char* context) override
    {
        Note("Setting(" + Arg(name) + "|" + std::to_string(size ? *size : -1) + "|" + Arg(context) + ")");
        std::string key = std::string("setting.") + Arg(name);
        if (!TheJournal().Has(key))
            return 4;  // not found
        std::string text = TheJournal().Get(key);
        if (!value || !size || *size < static_cast<int>(text.size()) + 1)
            return 4;
        std::memcpy(value, text.c_str(), text.size() + 1);
        *size = static_cast<int>(text.size());
        return 0;
    }
    int Unused52() override { return Unused(52); }
    int Unused53() override { return Unused(53); }
    int Unused54() override { return Unused(54); }
    int NamedText(const char* name, char* buffer, int& size) override
    {
        Note("NamedText(" + Arg(name) + "|" + std::to_string(size) + ")");
        std::string text = TheJournal().Get(std::string("named.") + Arg(name));
        int needed = static_cast<int>(text.size()) + 1;
        // Copies what fits, without a terminator when the room ends first.
        if (buffer && size > 0)
            std::memcpy(buffer, text.c_str(), static_cast<size_t>(std::min(size, needed)));
        size = needed;
        return ResultOf("NamedText");
    }

private:
    int Unused(int slot)
    {
        Note("Unused" + std::to_string(slot));
        return 1;
    }

    std::string _text;
    std::string _first;
    std::string _second;
};
}  // namespace

STANDIN_EXPORT int QoCheckAPIVersion(const char* version)
{
    Note("QoCheckAPIVersion(" + Arg(version) + ")");
    return Arg(version) == TheJournal().Get("api.version", "0.8") ? 0 : 1;
}

STANDIN_EXPORT QlmClientAPI* QoCreateAPI()
{
    Note("QoCreateAPI");
    if (TheJournal().Has("create.null"))
        return nullptr;
    return new StandInApi();
}

#ifndef STANDIN_WITHOUT_DELETE
STANDIN_EXPORT void QoDeleteAPI(QlmClientAPI* api)
{
    Note("QoDeleteAPI");
    TheTransactions().End(api);
    delete static_cast<StandInApi*>(api);
}
#endif

// Test control: see standin::Journal::Control. "reset" also forgets every transaction.
STANDIN_EXPORT int TessanApiControl(const char* key, const char* value, char* reply, int replySize)
{
    if (key && std::strcmp(key, "reset") == 0)
        TheTransactions().End(nullptr);
    return TheJournal().Control(key, value, reply, replySize);
}
