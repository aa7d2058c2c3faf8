// SPDX-License-Identifier: MIT
// The worker wire (host/isolate/record.h).
#include "host/isolate/record.h"

#include <cstdlib>

namespace sim {

namespace {

const char k_mark[] = "@job";

void append_escaped(std::string &out, const std::string &field) {
    out.push_back('\t');
    for (char c : field) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out.push_back(c);
        }
    }
}

// The tab-separated fields after the mark, unescaped.
std::vector<std::string> split_fields(const std::string &line, size_t from) {
    std::vector<std::string> fields;
    for (size_t i = from; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') fields.emplace_back();
        else if (fields.empty()) break;
        else if (c != '\\' || i + 1 >= line.size()) fields.back().push_back(c);
        else {
            const char e = line[++i];
            fields.back().push_back(e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e);
        }
    }
    return fields;
}

} // namespace

std::string record_line(const JobRecord &r) {
    std::string line = k_mark;
    for (const std::string *f : {&r.kind, &r.job, &r.verdict, &r.id}) append_escaped(line, *f);
    append_escaped(line, std::to_string(r.step));
    append_escaped(line, std::to_string(r.count));
    append_escaped(line, r.message);
    line.push_back('\n');
    return line;
}

void write_record_unflushed(std::FILE *out, const JobRecord &r) {
    const std::string line = record_line(r);
    std::fwrite(line.data(), 1, line.size(), out);
}

void write_record(std::FILE *out, const JobRecord &r) {
    write_record_unflushed(out, r);
    std::fflush(out);
}

std::vector<JobRecord> read_records(const std::string &output) {
    std::vector<JobRecord> records;
    const size_t mark = sizeof k_mark - 1;
    for (size_t b = 0; b < output.size();) {
        const size_t e = output.find('\n', b);
        if (e == std::string::npos) break; // cut short
        const std::string line = output.substr(b, e - b);
        b = e + 1;
        if (line.compare(0, mark, k_mark) != 0) continue;
        const std::vector<std::string> f = split_fields(line, mark);
        if (f.size() != 7) continue;
        JobRecord r = JobRecord::make("", f[1]).with_verdict(f[2]).with_id(f[3]).with_message(f[6]);
        r.kind = f[0];
        r.step = std::strtoll(f[4].c_str(), nullptr, 10);
        r.count = std::strtoull(f[5].c_str(), nullptr, 10);
        records.push_back(std::move(r));
    }
    return records;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", u);
            out += hex;
        } else out.push_back(c);
    }
    return out + "\"";
}

} // namespace sim
