#pragma once
// Messages between ports of the own task: a header, then the sender's bytes, queued on the
// destination port until a receiver on the port (or on a set holding it) takes them. A queue holds
// a few messages of at most kMachMessageSizeMax bytes each, preallocated. Sending and receiving are
// async-signal-safe: no allocation, and the port table is only touched with every signal blocked.
#include <cstdint>

#include "platform/mach/mach_types.h"

using mach_msg_bits_t = uint32_t;
using mach_msg_size_t = uint32_t;
using mach_msg_id_t = int32_t;
using mach_msg_option_t = int32_t;
using mach_msg_timeout_t = uint32_t;
using mach_msg_return_t = kern_return_t;
using mach_msg_type_name_t = uint32_t;

struct mach_msg_header_t {
    mach_msg_bits_t msgh_bits;
    mach_msg_size_t msgh_size;
    mach_port_t msgh_remote_port;
    mach_port_t msgh_local_port;
    mach_port_name_t msgh_voucher_port;
    mach_msg_id_t msgh_id;
};

struct mach_msg_body_t {
    uint32_t msgh_descriptor_count;
};

#pragma pack(push, 4)
struct mach_msg_port_descriptor_t {
    mach_port_t name;
    uint32_t pad1;
    uint16_t pad2;
    uint8_t disposition;
    uint8_t type;
};
#pragma pack(pop)
static_assert(sizeof(mach_msg_port_descriptor_t) == 12);

// The data representation record every typed message carries.
struct NDR_record_t {
    uint8_t mig_vers, if_vers, reserved1, mig_encoding, int_rep, char_rep, float_rep, reserved2;
};
inline constexpr NDR_record_t NDR_record = {0, 0, 0, 0, 1, 0, 0, 0};

// The reply of a routine that answers only a result: 36 bytes.
struct mig_reply_error_t {
    mach_msg_header_t Head;
    NDR_record_t NDR;
    kern_return_t RetCode;
};
static_assert(sizeof(mig_reply_error_t) == 36);

inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MOVE_RECEIVE = 16;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MOVE_SEND = 17;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MOVE_SEND_ONCE = 18;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_COPY_SEND = 19;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MAKE_SEND = 20;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MAKE_SEND_ONCE = 21;
inline constexpr uint8_t MACH_MSG_PORT_DESCRIPTOR = 0;

constexpr mach_msg_bits_t MACH_MSGH_BITS(mach_msg_type_name_t remote, mach_msg_type_name_t local) {
    return remote | (local << 8);
}
constexpr mach_msg_type_name_t MACH_MSGH_BITS_REMOTE(mach_msg_bits_t bits) {
    return bits & 0x1f;
}
inline constexpr mach_msg_bits_t MACH_MSGH_BITS_COMPLEX = 0x80000000u;

inline constexpr mach_msg_option_t MACH_SEND_MSG = 0x1;
inline constexpr mach_msg_option_t MACH_RCV_MSG = 0x2;
inline constexpr mach_msg_option_t MACH_RCV_LARGE = 0x4;
inline constexpr mach_msg_option_t MACH_SEND_TIMEOUT = 0x10;
inline constexpr mach_msg_option_t MACH_RCV_TIMEOUT = 0x100;
inline constexpr mach_msg_timeout_t MACH_MSG_TIMEOUT_NONE = 0;

inline constexpr mach_msg_return_t MACH_MSG_SUCCESS = 0;
inline constexpr mach_msg_return_t MACH_SEND_INVALID_DATA = 0x10000002;
inline constexpr mach_msg_return_t MACH_SEND_INVALID_DEST = 0x10000003;
inline constexpr mach_msg_return_t MACH_SEND_TIMED_OUT = 0x10000004;
inline constexpr mach_msg_return_t MACH_SEND_NO_BUFFER = 0x1000000d;
inline constexpr mach_msg_return_t MACH_SEND_TOO_LARGE = 0x10000008;
inline constexpr mach_msg_return_t MACH_RCV_INVALID_NAME = 0x10004002;
inline constexpr mach_msg_return_t MACH_RCV_TIMED_OUT = 0x10004003;
inline constexpr mach_msg_return_t MACH_RCV_TOO_LARGE = 0x10004004;
inline constexpr mach_msg_return_t MACH_RCV_PORT_DIED = 0x10004009;

// The largest message a queue holds.
inline constexpr mach_msg_size_t kMachMessageSizeMax = 6144;

// Sends `msg` (MACH_SEND_MSG, `send_size` bytes, to msgh_remote_port; the receiver sees
// msgh_local_port as its reply port), then receives (MACH_RCV_MSG) into `msg` from `rcv_name`, a
// port or a port set, waiting at most `timeout` ms with MACH_RCV_TIMEOUT and else for ever. A
// message larger than `rcv_size` is MACH_RCV_TOO_LARGE: with MACH_RCV_LARGE it stays queued and
// msgh_size tells its size; otherwise it is dropped. A full queue is MACH_SEND_NO_BUFFER.
mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, mach_msg_size_t send_size,
                           mach_msg_size_t rcv_size, mach_port_name_t rcv_name, mach_msg_timeout_t timeout,
                           mach_port_name_t notify) noexcept;

// The notification a port's receiver asked for once no send right to the port is left.
inline constexpr mach_msg_id_t MACH_NOTIFY_NO_SENDERS = 70;
