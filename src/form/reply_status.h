#pragma once

#include "platform/icmp/ip_status.h"

#include <cstdint>
#include <string_view>

// The text written for a reply's status, where it has one.
struct StatusText {
    int32_t status;
    std::u16string_view text;
};

// Compared in this order; the misspellings are the program's own. Transit
// TTL expiry has no text.
inline constexpr StatusText kStatusTexts[] = {
    {IpStatus::Success, u"Success"},
    {IpStatus::BufferTooSmall, u"Buffer too Small"},
    {IpStatus::DestNetUnreachable, u"Destination Unreahable"},
    {IpStatus::DestHostUnreachable, u"Destination Host Not Reachable"},
    {IpStatus::DestProtUnreachable, u"Destination Protocol Not Reachable"},
    {IpStatus::DestPortUnreachable, u"Destination Port Not Reachable"},
    {IpStatus::NoResources, u"No Resources Available"},
    {IpStatus::BadOption, u"Bad Option"},
    {IpStatus::HardwareError, u"Hardware Error"},
    {IpStatus::PacketTooBig, u"Packet too Big"},
    {IpStatus::RequestTimedOut, u"Requested Timed Out"},
    {IpStatus::BadRequest, u"Bad Request"},
    {IpStatus::BadRoute, u"Bad Route"},
    {IpStatus::TtlExpiredReassembly, u"TTL Exprd Reassemb"},
    {IpStatus::ParameterProblem, u"Parameter Problem"},
    {IpStatus::SourceQuench, u"Source Quench"},
    {IpStatus::OptionTooBig, u"Option too Big"},
    {IpStatus::BadDestination, u"Bad Destination"},
    {IpStatus::AddressDeleted, u"Address Deleted"},
    {IpStatus::SpecificMtuChange, u"Spec MTU Change"},
    {IpStatus::MtuChange, u"MTU Change"},
    {IpStatus::Unload, u"Unload"},
    {IpStatus::GeneralFailure, u"General Failure"},
};
