#include "script/script_check.h"

#include <algorithm>
#include <vector>

#include "script/script_format.h"
#include "ui/messages.h"

namespace reburn3 {

namespace {
constexpr std::uint64_t kHandshakeTicks = 57;
constexpr std::size_t kChunkSize = 1 << 16;
}  // namespace

std::uint64_t ScriptSummary::tickBound() const {
    return kHandshakeTicks + groups;
}

void ScriptChecker::feed(const char* data, std::size_t size) {
    m_summary.bytes += size;
    if (m_pendingSize > 0) {
        const std::size_t take = std::min(size, script::kRecordSize - m_pendingSize);
        std::copy_n(data, take, m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
        m_pendingSize += take;
        data += take;
        size -= take;
        if (m_pendingSize < script::kRecordSize) {
            return;
        }
        handleRecord(m_pending.data());
        m_pendingSize = 0;
    }
    const char* end = data + (size - size % script::kRecordSize);
    for (const char* rec = data; rec != end; rec += script::kRecordSize) {
        handleRecord(rec);
    }
    m_pendingSize = size % script::kRecordSize;
    std::copy_n(end, m_pendingSize, m_pending.begin());
}

void ScriptChecker::handleRecord(const char* rec) {
    ++m_summary.records;
    const script::Record r = script::decodeRecord(rec);
    switch (r.kind) {
        case script::RecordKind::Transmit:
        case script::RecordKind::Receive: {
            (r.kind == script::RecordKind::Transmit ? m_summary.txBytes : m_summary.rxBytes) += 1;
            const int group = static_cast<int>(r.kind);
            if (group != m_lastGroup) {
                ++m_summary.groups;
                m_lastGroup = group;
            }
            break;
        }
        case script::RecordKind::LineMark:
            ++m_summary.lines;
            break;
        case script::RecordKind::Malformed:
            for (auto& message : script::describeFaults(rec)) {
                addFault(m_summary.records, std::move(message));
            }
            break;
    }
}

void ScriptChecker::addFault(std::uint64_t record, std::string message) {
    ++m_summary.faultCount;
    if (m_summary.faults.size() < ScriptSummary::kListedFaults) {
        m_summary.faults.push_back({record, std::move(message)});
    }
}

ScriptSummary ScriptChecker::finish() {
    const std::string_view tail(m_pending.data(), m_pendingSize);
    if (!tail.empty() && !script::isTrailingWhitespace(tail)) {
        addFault(m_summary.records + 1,
                 std::string(text::kPartialRecord) + std::to_string(tail.size()) + " bytes");
    }
    m_pendingSize = 0;
    return std::move(m_summary);
}

ScriptSummary checkScript(ScriptStream& stream) {
    ScriptChecker checker;
    stream.rewind();
    std::vector<char> buffer(kChunkSize);
    for (;;) {
        const std::size_t got = stream.read(buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        checker.feed(buffer.data(), got);
    }
    stream.rewind();
    return checker.finish();
}

}  // namespace reburn3
