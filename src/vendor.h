// Vendor framework: the descriptor every PMS protocol implements, the registry
// of the fifteen built-in vendors selected by name, dispatch of an incoming PMS
// record to its handler by code, and the LRC shared by the framed protocols.
//
// How a vendor plugs in
// ---------------------
// Each vendor lives in src/vendors/<Name>.cpp and defines one factory
//
//     VendorDescriptor micfid_vendor_descriptor() { VendorDescriptor d; ...; return d; }
//
// (declared below), which returns its descriptor: record-code table, request
// slots and operations. The registry (kVendorRegistry in src/vendor.cpp) has
// one row {id, name, factory, traits} per vendor; to register a vendor, put
// its factory on its own row in place of nullptr, and its traits when they
// differ from the defaults. A row whose factory is still nullptr is named but
// not built: it fails to start with "Failed to initalize vendor [%s]".
//
// A descriptor is built the first time its vendor is selected and then lives
// as long as the process, so its operations may restart the vendor freely.
// The vendor's state does not live in the descriptor but in one lasting object
// of the vendor's own (settings re-read by its init, link state reset by its
// init, history kept); see vendors/fias/fias_profile.h for the FIAS one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PMSPostInfo;  // one unposted charge, defined by the database layer (db.h)

// Control bytes of the framed PMS protocols.
inline constexpr char VENDOR_STX = 0x02;
inline constexpr char VENDOR_ETX = 0x03;
inline constexpr char VENDOR_EOT = 0x04;
inline constexpr char VENDOR_ENQ = 0x05;
inline constexpr char VENDOR_ACK = 0x06;
inline constexpr char VENDOR_NAK = 0x15;

// Results of the request slots 0-10 and of posting; the numbers are the ones
// the control client receives. Any other value is a vendor's own failure
// code, passed on unchanged (static_cast<ReqResult>(n)).
enum class ReqResult : int {
    Ok = 0,
    Invalid = 2,         // invalid parameter data
    NotImplemented = 3,  // functionality not implemented
    Failed = 4,          // failure explained in the reply text
};
// The result code sent on the wire.
constexpr int req_code(ReqResult r) { return static_cast<int>(r); }
// Comparing with a wire number is comparing with the code it stands for.
constexpr bool operator==(ReqResult r, int code) { return req_code(r) == code; }

inline constexpr int VENDOR_COUNT = 15;

// Vendor ids: positions in the registry.
enum VendorId : int {
    VENDOR_MICROS_FIDELIO = 0,
    VENDOR_MARRIOTT = 1,
    VENDOR_HILTON_ONQ = 2,
    VENDOR_AGILYSYS = 3,
    VENDOR_JDS = 4,
    VENDOR_MARRIOTT_FOSSE = 5,
    VENDOR_GALAVU = 6,
    VENDOR_GALAXY = 7,
    VENDOR_REGAL = 8,
    VENDOR_HNMUX = 9,
    VENDOR_MICROS4700 = 10,
    VENDOR_OPTIMA = 11,
    VENDOR_PROTEL = 12,
    VENDOR_NITEVISION_SFTP = 13,
    VENDOR_HTNG = 14,
};

// Registry names, by id; VENDOR must equal one exactly.
extern const std::array<const char*, VENDOR_COUNT> kVendorNames;

// Handler of one PMS record: receives the whole record text; non-zero = handled.
using VendorCmdHandler = std::function<int(const std::string& record)>;

struct VendorCommand {
    std::string code;          // two or four characters, compared whole
    VendorCmdHandler handler;  // empty: the record is accepted and ignored
};

// Reply texts are owned std::strings, initially empty; a handler appends to
// them with strAppendFmt. An empty slot (no std::function target) means the
// vendor has no handler: the control dispatcher answers code 3 without calling.
// Line lists: `count` lines are taken from `lines` (a negative count sends
// nothing; the dispatcher never reads past lines.size()).
struct VendorRequests {
    // 0: status of the room (e.g. 1 occupied)
    std::function<ReqResult(const std::string& room, int32_t& status, std::string& reply)>
        check_room_status;
    // 1
    std::function<ReqResult(const std::string& room, const std::string& field2, std::string& reply)>
        check_out_room;
    // 2
    std::function<ReqResult(const std::string& f1, const std::string& f2, const std::string& f3,
                      std::string& reply)>
        check_in_room;
    // 3: third and fourth fields converted to integers
    std::function<ReqResult(const std::string& f1, const std::string& f2, int32_t f3, int32_t f4,
                      int32_t& count, std::vector<std::string>& lines, std::string& reply)>
        retrieve_guest_folio;
    // 4
    std::function<ReqResult(const std::string& room, int32_t& count, std::vector<std::string>& lines,
                      std::string& reply)>
        retrieve_guest_info;
    // 5: same function as the descriptor's post_charge
    std::function<ReqResult(const PMSPostInfo& post, std::string& reply)> post_charge;
    // 6: room and guest name data
    std::function<ReqResult(const std::string& room, const std::string& name, std::string& reply)>
        authorize;
    // 7
    std::function<ReqResult(const std::string& room, const std::string& status, std::string& reply)>
        room_equipment_status;
    // 8
    std::function<ReqResult()> db_swap;
    // 9
    std::function<ReqResult(const std::string& f1, const std::string& f2, int32_t& count,
                      std::vector<std::string>& lines, std::string& reply)>
        retrieve_guest_message;
    // 10
    std::function<ReqResult(const std::string& f1, const std::string& f2, std::string& reply)>
        delete_guest_message;
    // 11, 12: set the status text (nullopt: no text); no result
    std::function<void(std::optional<std::string>& status)> check_status;
    std::function<void(std::optional<std::string>& status)> check_db_swap_status;

    // Request subtypes (vendor_request_bit) whose slot never touches the PMS
    // link: they are answered even while a PMS exchange is under way. The
    // two status texts come from the vendor's own state for every vendor.
    uint32_t link_free = (1u << 13) | (1u << 14);
};

constexpr uint32_t vendor_request_bit(int subtype) {
    return subtype > 0 && subtype < 32 ? 1u << subtype : 0;
}

struct VendorDescriptor {
    std::string name;
    std::vector<VendorCommand> commands;  // Micros4700 and NiteVision fill theirs in init
    VendorRequests requests;
    // > 0: one record read into `record`; 0: nothing complete before the time-out; < 0: error.
    std::function<int(std::string& record)> read_msg;
    // Ok: posted; anything else: not posted, `reply` may say why.
    std::function<ReqResult(const PMSPostInfo& post, std::string& reply)> post_charge;
    // The record's code, or nullopt when it has none recognisable.
    std::function<std::optional<std::string>(const std::string& record)> parse_cmd;
    // Optional. init: non-zero = started. close: result unused.
    std::function<int()> init;
    std::function<int()> close;
    // 0: done; non-zero: failed (the caller logs it).
    std::function<int()> keep_alive;
};

using VendorFactory = VendorDescriptor (*)();

// What the main loop and the scan need to know about a vendor, so that they
// ask what it does rather than which one it is.
struct VendorTraits {
    bool waits_on_link = true;          // false: the link is never in the wait set
    bool record_restarts_wait = false;  // PMS traffic re-arms the scan time-out
    bool scans_charges = true;          // false: the scan only runs the keep-alive
};

// The current vendor's traits; the defaults while none is selected.
const VendorTraits& vendor_traits();

// Selects the registry entry named `name`, builds its descriptor on first use
// and runs its init. The id 0-14, or -1 (unknown name, vendor not built, or
// init failed).
int vendor_init(std::string_view name);
// The current entry, or nullptr.
VendorDescriptor* vendor_current();
// Non-zero when the record was handled.
int vendor_handle_data(const std::string& record);
// Applies the guest records held during a database outage, once it is back.
void vendor_replay_held();
// Runs the current vendor's close and deselects it.
void vendor_stop();
// XOR of every byte of `text`, 0-255 (0 for an empty text).
int vendor_calc_lrc(std::string_view text);

// True when this build carries an implementation for registry entry `id`.
bool vendor_is_built(int id);

// Replaces the factory of registry entry `id` (nullptr restores the built-in
// one) and drops the descriptor built from the old one. Used by tests to plug
// a vendor of their own into a slot; never called while a vendor operation runs.
void vendor_set_factory(int id, VendorFactory factory);

// Factories of the built-in vendors, one per src/vendors/<Name>.cpp.
VendorDescriptor micfid_vendor_descriptor();
VendorDescriptor marriott_vendor_descriptor();
VendorDescriptor honq_vendor_descriptor();
VendorDescriptor agilysys_vendor_descriptor();
VendorDescriptor jds_vendor_descriptor();
VendorDescriptor fosse_vendor_descriptor();
VendorDescriptor galavu_vendor_descriptor();
VendorDescriptor galaxy_vendor_descriptor();
VendorDescriptor regal_vendor_descriptor();
VendorDescriptor hnmux_vendor_descriptor();
VendorDescriptor micros4700_vendor_descriptor();
VendorDescriptor optima_vendor_descriptor();
VendorDescriptor protel_vendor_descriptor();
VendorDescriptor nv_vendor_descriptor();
VendorDescriptor htng_vendor_descriptor();
