#include "app/scripting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "batch/file_result.h"
#include "batch/input_list.h"
#include "platform/console.h"

namespace kestrune {
namespace {

std::string_view EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

// Length of the well-formed UTF-8 sequence at `at`, 0 when the byte there
// does not begin one (overlong forms, surrogates and values above U+10FFFF
// included).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u; };
    const auto continuation = [&](size_t i, unsigned low = 0x80, unsigned high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    const unsigned c = byte(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return continuation(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned low = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = c == 0xED ? 0x9F : 0xBF;
        return continuation(1, low, high) && continuation(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned low = c == 0xF0 ? 0x90 : 0x80;
        const unsigned high = c == 0xF4 ? 0x8F : 0xBF;
        return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

// A JSON string of a path's bytes. A byte that is not part of well-formed
// UTF-8 is written as the lone surrogate U+DC00 + byte ("\udcXX"), as
// Python's os.fsdecode does, so that the bytes can be had back exactly
// (os.fsencode) and no valid name collides with an escaped one.
void AppendJsonString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0 || c < 0x20) {
            out += length == 0 ? "\\udc" : "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            ++i;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out += '"';
}

const char* StatusName(FileResult::Status status) {
    switch (status) {
        case FileResult::Status::Converted: return "converted";
        case FileResult::Status::Failed: return "failed";
        case FileResult::Status::NotReached: break;
    }
    return "not reached";
}

std::string ReportLine(const FileResult& result, const std::string& subfolder) {
    std::string line = "{\"input\":";
    AppendJsonString(line, result.input);
    line += ",\"subfolder\":";
    AppendJsonString(line, subfolder);
    line += ",\"status\":\"";
    line += StatusName(result.status);
    line += '"';
    if (result.status == FileResult::Status::Failed) {
        line += ",\"reason\":";
        AppendJsonString(line, FailureWords(result.reason));
    }
    line += ",\"outputs\":[";
    for (size_t i = 0; i < result.written.size(); ++i) {
        if (i) line += ',';
        AppendJsonString(line, result.written[i]);
    }
    line += "],\"frames\":" + std::to_string(result.frames) + ",\"ms\":" + std::to_string(result.milliseconds) +
            "}\n";
    return line;
}

// The files of the run as the batch reports them, and the report file. The
// reporting thread, the main thread and a close signal's watcher thread all
// come here, one at a time.
class RunRecord {
  public:
    bool Open(const std::string& path) {
        // Emptied at the start, so that what it holds is this run's alone;
        // appended to line by line.
        fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
        return fd_ >= 0;
    }

    void InputsCollected(const InputList& inputs) {
        std::lock_guard lock(mutex_);
        inputs_ = &inputs;
        next_ = inputs.begin();
        total_ = static_cast<int32_t>(inputs.size());
    }

    // The files come in input order, `index` their place in the list.
    void FileReported(size_t index, const FileResult& result) {
        std::lock_guard lock(mutex_);
        if (finished_ || !inputs_) return;
        for (; reported_ < index && next_ != inputs_->end(); ++reported_) ++next_;
        if (next_ == inputs_->end()) return;
        if (result.status == FileResult::Status::Converted) ++converted_;
        Write(ReportLine(result, next_->second.subfolder));
        ++next_;
        ++reported_;
    }

    // Once: the inputs not reported, then the summary. Returns the exit
    // status of what was reported.
    int Finish() {
        std::lock_guard lock(mutex_);
        if (!finished_) {
            finished_ = true;
            for (; inputs_ && next_ != inputs_->end(); ++next_) {
                FileResult result;
                result.input = next_->first;
                Write(ReportLine(result, next_->second.subfolder));
            }
            Write("{\"summary\":true,\"converted\":" + std::to_string(converted_) +
                  ",\"total\":" + std::to_string(total_) + "}\n");
        }
        return ExitStatusOf({.total = total_, .converted = converted_});
    }

  private:
    // A whole line in one write, appended: a reader, or a run killed
    // halfway, never sees part of a line (short of a full disk).
    void Write(const std::string& line) {
        if (fd_ < 0) return;
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = write(fd_, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    std::mutex mutex_;
    int fd_ = -1;
    const InputList* inputs_ = nullptr;
    InputList::const_iterator next_;  // the input of the next line
    size_t reported_ = 0;             // its place in the list
    int32_t total_ = 0;
    int32_t converted_ = 0;
    bool finished_ = false;
};

RunRecord& TheRunRecord() {
    // Never destroyed: a close signal may end the process from another
    // thread while the batch still reports.
    static RunRecord* record = new RunRecord;
    return *record;
}

// A close signal during the run: the report is ended as the run leaves it,
// and the process ends with the status of the files reported.
void EndRunOnClose() {
    const int status = TheRunRecord().Finish();
    std::quick_exit(ExitStatusWanted() ? status : 0);
}

}  // namespace

bool ExitStatusWanted() {
    const std::string_view value = EnvironmentValue("KESTRUNE_EXIT_STATUS");
    return !value.empty() && value != "0";
}

double LockWaitSeconds() {
    const std::string value(EnvironmentValue("KESTRUNE_LOCK_WAIT"));
    if (value.empty()) return 0;
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds <= 0) return 0;
    return seconds;
}

int EndAsSecondCopy(const std::string& lock_path) {
    if (!ExitStatusWanted()) return 0;
    const std::string line = "kestrunecmd: another run holds the lock (" + lock_path + ")\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
    return kLockHeld;
}

int ExitStatusOf(const BatchOutcome& outcome) {
    if (outcome.refused || outcome.converted == 0) return kNothingConverted;
    return outcome.converted < outcome.total ? kSomeNotConverted : kAllConverted;
}

bool StartRunRecord(BatchListener& listener) {
    const std::string report(EnvironmentValue("KESTRUNE_REPORT"));
    if (report.empty() && !ExitStatusWanted()) return true;
    RunRecord& record = TheRunRecord();
    if (!report.empty() && !record.Open(report)) return false;
    listener.inputs_collected = [&record](const InputList& inputs) { record.InputsCollected(inputs); };
    listener.file_reported = [&record](size_t index, const FileResult& result) {
        record.FileReported(index, result);
    };
    SetCloseRequestHandler(EndRunOnClose);
    return true;
}

void FinishRunRecord(const BatchListener& listener) {
    if (listener.file_reported) TheRunRecord().Finish();
}

}  // namespace kestrune
