// SPDX-License-Identifier: MIT
// Module loading as the host does it, tool sessions (activation, the callback wrappers) and the
// drawing record handed to the draw callback.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "host/sim/alloc_hooks.h"
#include "host/sim/internal.h"
#include "host/sim/macho.h"
#include "host/base/os.h"

#ifndef ZENDRO_MODULE_DIR
#define ZENDRO_MODULE_DIR "modules"
#endif

namespace sim {

// ---- Module files -----------------------------------------------------------------------------

std::string module_path(const std::string &name) {
    const char *env = std::getenv("ZENDRO_MODULE_DIR");
    std::string dir = env && *env ? env : ZENDRO_MODULE_DIR;
#ifdef _WIN32
    const char *ext = ".p";
#else
    const char *ext = ".so";
#endif
    // The Mach-O builds' ".p" on Linux, where the tests run them (ZENDRO_MODULE_SUFFIX).
    const char *suffix = std::getenv("ZENDRO_MODULE_SUFFIX");
    if (suffix && *suffix) ext = suffix;
    const char *bits = sizeof(void *) == 8 ? "_64" : "_32";
    return dir + "/" + name + bits + ext;
}

namespace {

// The file named and no other: both loaders search their library paths for a bare name (dlopen
// also answers a library already loaded under that name, libm.so.6 for one), so a name without a
// folder is made to name the file in the working folder. On Windows the path is made absolute, which
// LoadLibrary takes as it is, and a file name without an extension gets a trailing dot, without which
// LoadLibrary would append ".dll".
std::string loadable_path(const std::string &path) {
#ifdef _WIN32
    char full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(sizeof full), full, nullptr);
    std::string out = n > 0 && n < sizeof full ? std::string(full, n) : path;
    const size_t name = out.find_last_of("\\/");
    if (out.find('.', name == std::string::npos ? 0 : name + 1) == std::string::npos) out += '.';
    return out;
#else
    return path.find('/') == std::string::npos ? "./" + path : path;
#endif
}

// A Mach-O file (by its first bytes) goes to the simulator's own loader (host/sim/macho.h); any
// other to the system's.
bool macho_file(const std::string &path) {
    unsigned char start[4] = {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const size_t got = std::fread(start, 1, sizeof start, f);
    std::fclose(f);
    return macho_magic(start, got);
}

} // namespace

void *open_library(const std::string &given, std::string *error) {
    const std::string path = loadable_path(given);
    if (macho_file(path)) return macho_open(path, error);
#ifdef _WIN32
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) *error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(m);
#else
    void *m = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m) {
        const char *e = dlerror();
        *error = e ? e : "dlopen failed";
    }
    return m;
#endif
}

void *find_symbol(void *library, const char *name) {
    if (macho_handle(library)) return macho_symbol(library, name);
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

void close_library(void *library) {
    if (macho_handle(library)) return macho_close(library);
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(library));
#else
    dlclose(library);
#endif
}

namespace {

bool all_null(const host_server_record &r) { return !r.class_name && !r.server_name && !r.activate && !r.tags; }

constexpr size_t k_server_limit = 64; // a table longer than this has lost its terminator

void trace_line(char mark, const std::string &text) {
    Host *h = Host::current();
    if (h && h->tracing()) h->trace().add(mark, text);
}

} // namespace

Module::Module(const std::string &path) : path_(path) {
    ModuleKeeper *keeper = ModuleKeeper::current();
    library_ = keeper ? keeper->reuse(path) : nullptr;
    kept_ = library_ != nullptr;
    if (!library_) load(keeper);
    if (library_) find_descriptor();
}

void Module::load(ModuleKeeper *keeper) {
    std::string why;
    const size_t blocks = alloc_live_blocks();
    library_ = open_library(path_, &why);
    if (!library_) {
        error_ = std::string(violation_id::module_load) + ": cannot load " + path_ + ": " + why;
        return;
    }
    // Before anything of the module runs: its allocations go through the hooks from here on. The
    // Mach-O loader binds them to the hooks itself.
    if (!macho_handle(library_)) {
        hooked_ = redirect_allocations(library_, &why);
        if (!hooked_) note_redirect_failure("allocation hooks not installed for " + path_ + ": " + why);
    }
    kept_ = keeper && keeper->keep(path_, library_, hooked_, blocks);
}

void Module::find_descriptor() {
    const std::string &path = path_;
    descriptor_ = static_cast<const host_module_descriptor *>(find_symbol(library_, HOST_MODULE_DESCRIPTOR_SYMBOL));
    if (!descriptor_) {
        error_ = std::string(violation_id::module_descriptor_missing) + ": " + path +
                 " exports no " HOST_MODULE_DESCRIPTOR_SYMBOL;
        return;
    }
    if (descriptor_->sync != HOST_MODULE_SYNC)
        error_ = std::string(violation_id::module_descriptor_sync) +
                 format(": expected 0x%08x, got 0x%08x", HOST_MODULE_SYNC, static_cast<unsigned>(descriptor_->sync));
    else if (descriptor_->version != HOST_MODULE_DESCRIPTOR_VERSION)
        error_ =
            std::string(violation_id::module_descriptor_version) +
            format(": expected %d, got %d", HOST_MODULE_DESCRIPTOR_VERSION, static_cast<int>(descriptor_->version));
    else if (descriptor_->interface_version != HOST_MODULE_INTERFACE_VERSION)
        error_ = std::string(violation_id::module_descriptor_interface) +
                 format(": expected 0x%x, got 0x%x", HOST_MODULE_INTERFACE_VERSION,
                        static_cast<unsigned>(descriptor_->interface_version));
    if (!error_.empty()) return;
    if (!descriptor_->servers) {
        error_ = std::string(violation_id::module_server_table_missing) + ": the descriptor's server table is null";
        return;
    }
    for (size_t i = 0; i < k_server_limit; ++i) {
        const host_server_record &r = descriptor_->servers[i];
        if (all_null(r)) {
            terminated_ = true;
            break;
        }
        servers_.push_back(&r);
    }
    if (!terminated_)
        error_ = std::string(violation_id::module_server_table_unterminated) + ": no all-null record within 64 records";
}

Module::~Module() {
    if (!library_) return;
    if (started_ && descriptor_ && descriptor_->shutdown) shutdown();
    if (kept_) {
        if (ModuleKeeper *keeper = ModuleKeeper::current()) keeper->done(library_);
        return;
    }
    if (hooked_) restore_allocations(library_);
    close_library(library_);
}

std::vector<unsigned char> Module::descriptor_bytes() const {
    std::vector<unsigned char> bytes;
    if (!descriptor_) return bytes;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(descriptor_);
    bytes.assign(p, p + sizeof(host_module_descriptor));
    return bytes;
}

const host_server_record *Module::find_server(const std::string &class_name, const std::string &server_name) const {
    for (const host_server_record *r : servers_)
        if (r->class_name && r->server_name && class_name == r->class_name && server_name == r->server_name) return r;
    return nullptr;
}

void *Module::symbol(const char *name) const { return library_ ? find_symbol(library_, name) : nullptr; }

void *Module::startup() {
    if (!descriptor_ || !descriptor_->startup) return nullptr;
    trace_line('B', "host->module startup");
    void *answer = descriptor_->startup();
    trace_line('E', "host->module startup -> " + hex(answer));
    ++startup_calls_;
    started_ = true;
    return answer;
}

void Module::shutdown() {
    if (!descriptor_ || !descriptor_->shutdown) return;
    trace_line('B', "host->module shutdown");
    descriptor_->shutdown(nullptr);
    trace_line('E', "host->module shutdown");
    started_ = false;
}

// ---- Tool sessions ----------------------------------------------------------------------------

namespace {
// Sentinels for the callback table: distinct, non-null, never called (the wrappers check first).
unsigned char g_sentinels[13];

const char *const k_slot_names[13] = {"release",         "draw",       "tool_text",     "change_query", "handle_count",
                                      "handle_position", "drag_start", "handle_adjust", "mouse_down",   "mouse_move",
                                      "mouse_up",        "notify",     "slot 12"};

std::string event_text(const host_tool_event *e) {
    if (!e) return std::string();
    return format("point=%s axis=%s dx=%d dy=%d flags=%d vp=%d", vec(e->point).c_str(), vec(e->axis).c_str(),
                  static_cast<int>(e->dx), static_cast<int>(e->dy), static_cast<int>(e->flags),
                  static_cast<int>(e->viewport));
}
} // namespace

void *Tool::sentinel(int s) { return s >= 0 && s < 13 ? &g_sentinels[s] : nullptr; }

void *Tool::slot(int s) const {
    if (s < 0 || s >= 13) return nullptr;
    void *p;
    std::memcpy(&p, reinterpret_cast<const unsigned char *>(&table_) + static_cast<size_t>(s) * sizeof(void *),
                sizeof p);
    return p;
}

Tool::Tool(Host &host, Module &module, const char *server_name) : host_(host) {
    for (const host_server_record *r : module.servers())
        if (!server_name || (r->server_name && std::strcmp(r->server_name, server_name) == 0)) {
            server_ = r;
            break;
        }
    for (int s = 0; s < 13; ++s) {
        void *p = sentinel(s);
        std::memcpy(reinterpret_cast<unsigned char *>(&table_) + static_cast<size_t>(s) * sizeof(void *), &p, sizeof p);
    }
    local_.instance = nullptr;
    local_.callbacks = &table_;
}

Tool::~Tool() {
    if (active_ && !released_ && Host::current() == &host_) release();
}

int32_t Tool::activate(int32_t version, void *server_data) {
    if (active_) throw std::logic_error("sim::Tool::activate: the tool is already active; use another Tool");
    if (!server_ || !server_->activate) {
        host_.violation(violation_id::tool_server_missing, "a server record with an activation routine",
                        server_ ? "a null activation routine" : "no such server", "the module's server table is wrong");
        return -1;
    }
    if (host_.tracing())
        host_.trace_.add('B', format("host->module activate %s version=%d", quote(server_->server_name).c_str(),
                                     static_cast<int>(version)));
    result_ = server_->activate(version, host_.global_function(), &local_, server_data);
    if (host_.tracing())
        host_.trace_.add('E', format("host->module activate -> %d instance=%s", static_cast<int>(result_),
                                     hex(local_.instance).c_str()));
    if (local_.callbacks != &table_)
        host_.violation(violation_id::tool_local_record_callbacks, "the host's callback table " + hex(&table_),
                        hex(local_.callbacks), "activation overwrote the local record's second slot");
    active_ = result_ == 0;
    if (active_) host_.instances_[local_.instance] = true;
    return result_;
}

bool Tool::callable(int s, const char *name) {
    if (released_) {
        host_.violation(violation_id::tool_instance_released, std::string("no ") + name + " after release",
                        std::string(name) + " on released instance " + hex(local_.instance),
                        "the test drives a tool it released");
        return false;
    }
    if (!active_) {
        host_.violation(violation_id::tool_not_active, "an activation that answered 0 before " + std::string(name),
                        "activation result " + std::to_string(result_), "activation failed or was not called");
        return false;
    }
    void *p = slot(s);
    if (p == sentinel(s) || !p) {
        host_.violation(violation_id::tool_callback_unfilled,
                        std::string("slot ") + std::to_string(s) + " (" + name + ") filled by activation",
                        p ? "the host's sentinel" : "null", "activation left the slot as the host gave it");
        return false;
    }
    return true;
}

void Tool::begin(const char *name, const host_tool_event *e, const char *label, int32_t value) {
    if (!host_.tracing()) return;
    std::string text = std::string("host->module ") + name;
    const std::string ev = event_text(e);
    if (!ev.empty()) text += " " + ev;
    if (label) text += std::string(" ") + label + "=" + std::to_string(value);
    host_.trace_.add('B', text);
}

void Tool::end(const char *name) {
    if (!host_.tracing()) return;
    host_.trace_.add('E', std::string("host->module ") + name);
}

void Tool::end_int(const char *name, int32_t result, const char *unit) {
    if (!host_.tracing()) return;
    host_.trace_.add('E', std::string("host->module ") + name + " -> " + std::to_string(result) + unit);
}

void Tool::end_text(const char *name, const char *text) {
    if (!host_.tracing()) return;
    host_.trace_.add('E', std::string("host->module ") + name + " -> " + quote(text));
}

void Tool::release() {
    if (!callable(0, k_slot_names[0])) return;
    begin("release", nullptr);
    table_.release(local_.instance);
    end("release");
    released_ = true;
    active_ = false;
    host_.instances_[local_.instance] = false;
}

std::vector<DrawOp> Tool::draw(int32_t viewport) {
    if (!callable(1, k_slot_names[1])) return {};
    Drawing d;
    std::memset(&d.record, 0, sizeof d.record);
    fill_with_traps(d.record, TRAP_DRAW);
    d.record.viewport = viewport;
    d.record.reserved4 = 0;
    d.record.display = &d;
    d.record.set_colour = Services::draw_set_colour;
    d.record.draw_line = Services::draw_line;
    host_.drawing_ = &d;
    begin("draw", nullptr, "viewport", viewport);
    table_.draw(local_.instance, &d.record);
    host_.drawing_ = nullptr;
    end_int("draw", static_cast<int32_t>(d.ops.size()), " op(s)");
    return d.ops;
}

const char *Tool::tool_text(const host_tool_event &e) {
    if (!callable(2, k_slot_names[2])) return nullptr;
    begin("tool_text", &e);
    const char *text = table_.tool_text(local_.instance, &e);
    end_text("tool_text", text);
    return text;
}

int32_t Tool::change_query() {
    if (!callable(3, k_slot_names[3])) return 0;
    begin("change_query", nullptr);
    const int32_t r = table_.change_query(local_.instance);
    end_int("change_query", r);
    return r;
}

int32_t Tool::handle_count(const host_tool_event &e) {
    if (!callable(4, k_slot_names[4])) return 0;
    begin("handle_count", &e);
    const int32_t r = table_.handle_count(local_.instance, &e);
    end_int("handle_count", r);
    return r;
}

int32_t Tool::handle_position(const host_tool_event &e, int32_t index, double pos[3]) {
    if (!callable(5, k_slot_names[5])) return 0;
    begin("handle_position", &e, "index", index);
    const int32_t r = table_.handle_position(local_.instance, &e, index, pos);
    end_int("handle_position", r);
    return r;
}

int32_t Tool::drag_start(const host_tool_event &e) {
    if (!callable(6, k_slot_names[6])) return 0;
    begin("drag_start", &e);
    const int32_t r = table_.drag_start(local_.instance, &e);
    end_int("drag_start", r);
    return r;
}

int32_t Tool::handle_adjust(const host_tool_event &e, int32_t index) {
    if (!callable(7, k_slot_names[7])) return 0;
    begin("handle_adjust", &e, "index", index);
    const int32_t r = table_.handle_adjust(local_.instance, &e, index);
    end_int("handle_adjust", r);
    return r;
}

int32_t Tool::mouse_down(const host_tool_event &e) {
    if (!callable(8, k_slot_names[8])) return 0;
    begin("mouse_down", &e);
    const int32_t r = table_.mouse_down(local_.instance, &e);
    end_int("mouse_down", r);
    return r;
}

void Tool::mouse_move(const host_tool_event &e) {
    if (!callable(9, k_slot_names[9])) return;
    begin("mouse_move", &e);
    table_.mouse_move(local_.instance, &e);
    end("mouse_move");
}

void Tool::mouse_up(const host_tool_event &e) {
    if (!callable(10, k_slot_names[10])) return;
    begin("mouse_up", &e);
    table_.mouse_up(local_.instance, &e);
    end("mouse_up");
}

void Tool::notify(int32_t code) {
    if (!callable(11, k_slot_names[11])) return;
    begin("notify", nullptr, "code", code);
    table_.notify(local_.instance, code);
    end("notify");
}

// ---- Drawing record routines ------------------------------------------------------------------

void HOST_CALL Services::draw_set_colour(void *display, const float rgba[4]) {
    Host *h = Host::current();
    if (!h) return;
    Drawing *d = static_cast<Drawing *>(h->drawing_);
    if (!d || display != d) {
        h->violation(violation_id::draw_display_mismatch, "the display data of the drawing record " + hex(d),
                     hex(display),
                     d ? "the module passed something else first" : "the module draws outside the draw callback");
        return;
    }
    if (!rgba) {
        h->violation(violation_id::draw_argument_null, "an address of 4 floats", "null", "the module passed no colour");
        return;
    }
    DrawOp op{};
    op.kind = DrawOp::Colour;
    for (size_t i = 0; i < 4; ++i) op.rgba[i] = rgba[i];
    d->ops.push_back(op);
    if (h->tracing())
        h->trace_.add('.', format("module->host draw.set_colour (%s,%s,%s,%s)", num(rgba[0]).c_str(),
                                  num(rgba[1]).c_str(), num(rgba[2]).c_str(), num(rgba[3]).c_str()));
}

void HOST_CALL Services::draw_line(void *display, const double from[3], const double to[3], int32_t coords) {
    Host *h = Host::current();
    if (!h) return;
    Drawing *d = static_cast<Drawing *>(h->drawing_);
    if (!d || display != d) {
        h->violation(violation_id::draw_display_mismatch, "the display data of the drawing record " + hex(d),
                     hex(display),
                     d ? "the module passed something else first" : "the module draws outside the draw callback");
        return;
    }
    if (!from || !to) {
        h->violation(violation_id::draw_argument_null, "two addresses of 3 doubles", "null",
                     "the module passed no end point");
        return;
    }
    DrawOp op{};
    op.kind = DrawOp::Line;
    for (size_t i = 0; i < 3; ++i) {
        op.from[i] = from[i];
        op.to[i] = to[i];
    }
    op.coords = coords;
    d->ops.push_back(op);
    if (h->tracing())
        h->trace_.add('.', format("module->host draw.draw_line %s %s coords=%d", vec(from).c_str(), vec(to).c_str(),
                                  static_cast<int>(coords)));
}

} // namespace sim
