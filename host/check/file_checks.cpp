// SPDX-License-Identifier: MIT
// The checks of the module file: its format, exports, loading, descriptor, server table and
// start-up, each with its declaration beside its body (docs/validator.md, "Checks").
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/check/internal.h"
#include "host/isolate/isolate.h"
#include "host/isolate/record.h"
#include "host/player/player.h"
#include "host/script/script.h"
#include "host/sim/alloc_hooks.h"
#include "host/sim/binary.h"
#include "host/sim/macho.h"
#include "host/sim/simulator.h"

namespace sim {

namespace {

using namespace check_support;

CheckResult check_file_format(const CheckContext &c) {
    const std::string problem = module_file_problem(c.module);
    return problem.empty() ? CheckResult::pass() : fail_from_error(problem, true);
}

constexpr CheckDef k_file_format = CheckDef::in_worker(
    check_id::module_file_format,
    "The file is a shared library of this host's format, pointer width and machine (ELF or PE, 32 or 64 bits).",
    check_file_format);

CheckResult check_exports(const CheckContext &c) {
    BinaryInfo info;
    std::string error;
    if (!inspect_binary_file(c.module, &info, &error)) return fail_from_error(error, false);
    bool descriptor = false;
    std::string others;
    for (const std::string &e : info.exports) {
        if (e == HOST_MODULE_DESCRIPTOR_SYMBOL) descriptor = true;
        else others += (others.empty() ? "" : ", ") + e;
    }
    if (!descriptor)
        return CheckResult::fail(violation_id::module_descriptor_missing,
                                 "the file exports no " HOST_MODULE_DESCRIPTOR_SYMBOL +
                                     (others.empty() ? std::string() : " (it exports " + others + ")"));
    if (!others.empty())
        return CheckResult::fail(violation_id::module_exports_extra,
                                 "besides " HOST_MODULE_DESCRIPTOR_SYMBOL " the file exports " + others +
                                     "; a module exports the descriptor alone (build with hidden visibility)");
    return CheckResult::pass();
}

constexpr CheckDef k_exports = CheckDef::in_worker(check_id::module_exports_only_descriptor,
                                                   "The file exports exactly one symbol, _mod_descrip.", check_exports);

CheckResult check_loads(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), violation_id::module_load) ||
        starts_with(m.error(), violation_id::module_descriptor_missing))
        return fail_from_error(m.error(), true);
    return CheckResult::pass();
}

constexpr CheckDef k_loads = CheckDef::in_worker(
    check_id::module_loads, "The file loads as the host loads it and _mod_descrip is found.", check_loads);

CheckResult check_descriptor_words(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), "module-descriptor-") || starts_with(m.error(), violation_id::module_load))
        return fail_from_error(m.error(), true);
    const host_module_descriptor *d = m.descriptor();
    if (!d) return CheckResult::fail(violation_id::module_descriptor_missing, "no descriptor", true);
    const std::string alignment = descriptor_alignment_problem(m);
    if (!alignment.empty()) return fail_from_error(alignment, false);
    if (!d->startup || !d->shutdown)
        return CheckResult::fail(violation_id::module_descriptor_routine_null,
                                 std::string("the ") + (!d->startup ? "start-up" : "shut-down") + " routine is null",
                                 !d->startup);
    return CheckResult::pass();
}

constexpr CheckDef k_descriptor_words = CheckDef::in_worker(
    check_id::descriptor_words,
    "The descriptor carries sync word 0x04121994, version 3, interface 0x300, a zero alignment word "
    "(64-bit) and start-up and shut-down routines.",
    check_descriptor_words);

CheckResult check_server_table(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (starts_with(m.error(), "module-server-table")) return fail_from_error(m.error(), true);
    if (!m.ok()) return fail_from_error(m.error(), true);
    std::string listed;
    const host_server_record *chosen = nullptr;
    for (const host_server_record *r : m.servers()) {
        const std::string cls = r->class_name ? quote(r->class_name) : "null";
        const std::string name = r->server_name ? quote(r->server_name) : "null";
        listed += (listed.empty() ? "" : ", ") + name + " of class " + cls;
        const bool tool = r->class_name && std::string(r->class_name) == HOST_CLASS_LAYOUT_TOOL;
        if (tool && !chosen && r->server_name && (c.options.server.empty() || c.options.server == r->server_name))
            chosen = r;
    }
    if (!chosen)
        return CheckResult::fail(violation_id::module_server_missing,
                                 std::string("the table lists no " HOST_CLASS_LAYOUT_TOOL " server") +
                                     (c.options.server.empty() ? "" : " named " + quote(c.options.server)) +
                                     (listed.empty() ? " (it is empty)" : " (it lists " + listed + ")"),
                                 true);
    if (!chosen->activate || !*chosen->server_name)
        return CheckResult::fail(violation_id::server_record_incomplete,
                                 std::string("the ") + HOST_CLASS_LAYOUT_TOOL + " record " +
                                     (chosen->activate ? "has an empty server name" : "has no activation routine"),
                                 !chosen->activate);
    if (m.server_count() > 1)
        return CheckResult::fail(violation_id::server_table_extra_record,
                                 "the table holds " + std::to_string(m.server_count()) + " records (" + listed +
                                     ") before its end record; a module of the " HOST_CLASS_LAYOUT_TOOL
                                     " class holds exactly one; the other checks use " +
                                     quote(chosen->server_name));
    return CheckResult::pass();
}

constexpr CheckDef k_server_table = CheckDef::in_worker(
    check_id::descriptor_server_table,
    "The server table ends with an all-null record after exactly one LayoutTool record with a name and an "
    "activation routine.",
    check_server_table);

CheckResult check_startup(const CheckContext &c) {
    Host host;
    Module m(c.module);
    if (!m.ok()) return fail_from_error(m.error(), true);
    if (g_step_log) write_record(g_step_log, JobRecord::text("step", "start-up"));
    const void *answer = m.startup();
    m.shutdown();
    if (answer != reinterpret_cast<void *>(static_cast<intptr_t>(HOST_MODULE_STARTUP_RESULT))) {
        char got[40];
        std::snprintf(got, sizeof got, "%p", answer);
        return CheckResult::fail(violation_id::module_startup_answer, std::string("start-up answered ") + got +
                                                                          ", expected " +
                                                                          std::to_string(HOST_MODULE_STARTUP_RESULT));
    }
    if (!host.clean()) return CheckResult::fail(host.violations().front().id, host.violations().front().message);
    return CheckResult::pass();
}

constexpr CheckDef k_startup =
    CheckDef::in_worker(check_id::module_startup, "Start-up answers 4 and calls nothing of the host.", check_startup)
        .blocking_on_crash();

} // namespace

std::string module_file_problem(const std::string &path) {
    BinaryInfo info;
    std::string error;
    if (!inspect_binary_file(path, &info, &error)) return error;
#ifdef _WIN32
    const BinaryFormat want = BinaryFormat::Pe;
    const uint16_t machine = sizeof(void *) == 8 ? 0x8664 : 0x14c;
    const char *kind = sizeof(void *) == 8 ? "PE32+" : "PE32";
#else
    // Mach-O bundles load too where their code runs natively (host/sim/macho.h).
    const bool macho = info.format == BinaryFormat::MachO && macho_host_cpu() != 0;
    const BinaryFormat want = macho ? BinaryFormat::MachO : BinaryFormat::Elf;
    const uint16_t machine = sizeof(void *) == 4 ? 3 : macho_host_cpu() == k_macho_cpu_arm64 ? 183 : 62;
    const char *kind = macho ? "Mach-O 64-bit" : sizeof(void *) == 8 ? "ELF64" : "ELF32";
#endif
    const int bits = static_cast<int>(sizeof(void *) * 8);
    const std::string got = binary_kind(info) + " " + info.machine_name;
    if (info.format != want)
        return std::string(violation_id::module_file_format) + ": the file is " + got + "; this host loads " + kind +
               " modules";
    if (info.pointer_bits != bits)
        return std::string(violation_id::module_pointer_width) + ": the file is " + got + "; this host is " +
               std::to_string(bits) + "-bit: check the module with the " + std::to_string(info.pointer_bits) +
               "-bit zendro_host";
    if (info.machine != machine)
        return std::string(violation_id::module_machine) + ": the file is built for " + info.machine_name;
    if (!info.shared_library)
        return std::string(violation_id::module_not_shared_library) + ": the file is " + got +
               " but not a shared library";
    return std::string();
}

std::string descriptor_alignment_problem(const Module &m) {
    if (sizeof(void *) != 8 || !m.descriptor()) return std::string();
    const std::vector<unsigned char> bytes = m.descriptor_bytes();
    if ((bytes[12] | bytes[13] | bytes[14] | bytes[15]) == 0) return std::string();
    return std::string(violation_id::module_descriptor_alignment) +
           ": the 4 bytes at offset 12 (alignment before the start-up pointer) are not "
           "zero";
}

std::vector<CheckDef> file_checks() {
    return {k_file_format, k_exports, k_loads, k_descriptor_words, k_server_table, k_startup};
}

} // namespace sim
