// Damaged copies of a portal's section, kind by kind: what the plug-in
// shows beside what the plain decoder (no CRC check) shows, against the list
// on air. Each kind is a stream of copies, some of them harmed on the way
// (bytes changed in a packet, a packet lost or sent twice), in many random
// variants.
#include "tests/unit/plain_decoder.h"
#include "tests/unit/test_support.h"

#include "core/plugin_session.h"
#include "stream/ts_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int Portal = 1;
constexpr std::size_t Section_Size = 700; // four packets and more

enum class Harm_Kind { None, Bytes, Lost, Twice };

// One copy of the portal's section and what happens to it on the way:
// `Harm` to its packet `Packet` (counted among the packets that carry it;
// -1: one at random), bytes changed from `From` to `To` in that packet's
// payload (-1: at random).
struct Copy_Plan {
  Harm_Kind Harm = Harm_Kind::None;
  int Packet = -1;
  int From = -1, To = -1;
  bool Changed_List = false; // the list of version 1: one name changed
};

enum class Feed_As { Payloads, Packets, Big_Pieces };

struct Kind {
  const char *What;
  std::vector<Copy_Plan> Copies;
  bool Packed = false; // sections back to back, the portal's behind another's
  int Adaptation = -1; // adaptation_field_length of every packet, -1: none
  Feed_As Feed = Feed_As::Payloads;
  int Reset_Before = -1;      // the window opens off the portal transport stream before copy N
  int Phase_From = 0;         // the copies from here on are the ones the plain decoder is armed for
  bool Copies_Hold_It = true; // the copies together hold the list on air
};

using Entries = std::vector<Portal_Listing_Entry>;

Entries List_Of(bool changed) {
  Entries entries = Numbered_Entries(12); // in the section's first two packets
  if (changed)
    entries[2].Name = "Kanal neu";
  return entries;
}

// The portal's section grown to Section_Size by filler descriptors behind
// the entries.
Byte_Vector Section_For(const Copy_Plan &plan) {
  Eit_Section section = Portal_Source_Section(Portal, List_Of(plan.Changed_List));
  section.Version_Number = plan.Changed_List ? 1 : 0;
  Byte_Vector &loop = section.Events[0].Descriptors;
  while (Build_Eit_Section(section).size() + 2 + 200 <= Section_Size) {
    loop.push_back(0x80);
    loop.push_back(198);
    loop.insert(loop.end(), 198, 'x');
  }
  const std::size_t rest = Section_Size - Build_Eit_Section(section).size();
  loop.push_back(0x80);
  loop.push_back(static_cast<uint8_t>(rest - 2));
  loop.insert(loop.end(), rest - 2, 'y');
  return Build_Eit_Section(section);
}

// The stream a kind makes with `random`: packets, and where each copy's
// packets begin (for the phases and resets).
struct Stream {
  Byte_Vector Packets;
  std::vector<std::size_t> Copy_Starts; // byte offsets in Packets
};

Stream Make_Stream(const Kind &kind, std::mt19937 &random) {
  Ts_Packet_Options options;
  options.Adaptation_Length = kind.Adaptation;
  options.Pack_Sections = kind.Packed;
  const std::size_t room = static_cast<std::size_t>(Ts_Payload_Room(options));
  Ts_Writer writer;
  Stream stream;
  for (const Copy_Plan &plan : kind.Copies) {
    stream.Copy_Starts.push_back(writer.Bytes.size());
    const Byte_Vector section = Section_For(plan);
    const std::size_t lead = 40 + random() % 160;
    const std::vector<Byte_Vector> sections = {Other_Section(lead, 'a'), section,
                                               Other_Section(150, 'b'), Other_Section(150, 'c')};
    Ts_Writer copy;
    copy.Continuity = writer.Continuity;
    Write_Sections(copy, Eit_Pid, sections, options);
    writer.Continuity = copy.Continuity;
    // The packets that carry the portal's section: where its bytes stand in
    // the payloads.
    const Byte_Vector payloads = Filter_Payloads(copy.Bytes);
    const std::size_t start = static_cast<std::size_t>(
        std::search(payloads.begin(), payloads.end(), section.begin(), section.begin() + 20) -
        payloads.begin());
    const int first = static_cast<int>(start / room);
    const int last = static_cast<int>((start + section.size() - 1) / room);
    int packet = plan.Packet >= 0
                     ? first + plan.Packet
                     : first + static_cast<int>(random() % static_cast<unsigned>(last - first + 1));
    packet = std::min(packet, last);
    // Random damage spares the section's header: a copy without one is no
    // copy at all.
    int from = plan.From, to = plan.To;
    if (plan.Harm == Harm_Kind::Bytes && from < 0) {
      if (plan.Packet < 0) {
        const std::size_t place =
            start + Eit_Header_Size + random() % (section.size() - Eit_Header_Size);
        packet = static_cast<int>(place / room);
        from = static_cast<int>(place % room);
      } else { // in the packet, behind the header (in the next one if the header fills it)
        std::size_t low =
            std::max(static_cast<std::size_t>(packet) * room, start + Eit_Header_Size);
        if (low >= static_cast<std::size_t>(packet + 1) * room)
          ++packet;
        low = std::max(static_cast<std::size_t>(packet) * room, low);
        const std::size_t high = static_cast<std::size_t>(packet + 1) * room;
        from = static_cast<int>(low % room + random() % (high - low));
      }
      to = std::min(static_cast<int>(room), from + 1 + static_cast<int>(random() % 8));
    }
    const std::size_t at = static_cast<std::size_t>(packet) * Ts_Packet_Size;
    Byte_Vector &bytes = copy.Bytes;
    if (plan.Harm == Harm_Kind::Bytes) {
      const std::size_t payload = at + Ts_Packet_Size - room;
      for (int i = from; i < to; ++i)
        bytes[payload + static_cast<std::size_t>(i)] ^= static_cast<uint8_t>(1 + random() % 255);
    } else if (plan.Harm == Harm_Kind::Lost) {
      bytes.erase(bytes.begin() + static_cast<long>(at),
                  bytes.begin() + static_cast<long>(at + Ts_Packet_Size));
    } else if (plan.Harm == Harm_Kind::Twice) {
      const Byte_Vector packet_bytes(bytes.begin() + static_cast<long>(at),
                                     bytes.begin() + static_cast<long>(at + Ts_Packet_Size));
      bytes.insert(bytes.begin() + static_cast<long>(at + Ts_Packet_Size), packet_bytes.begin(),
                   packet_bytes.end());
    }
    writer.Bytes.insert(writer.Bytes.end(), bytes.begin(), bytes.end());
  }
  stream.Packets = writer.Bytes;
  return stream;
}

enum class Outcome { Missed, Marred, Exact }; // worse to better

// Exact: the buttons show the list on air. Missed: no list, or the list of
// the other version (the old one still). Marred: another list.
Outcome Outcome_Of(const Portal_Row &row, int32_t count, const Entries &on_air) {
  if (Row_Holds(row, count, on_air))
    return Outcome::Exact;
  const bool changed = on_air[2].Name == "Kanal neu";
  if (Name_Of(row[1]).empty() || Row_Holds(row, count, List_Of(!changed)))
    return Outcome::Missed;
  return Outcome::Marred;
}

struct Tally {
  int Count[3] = {};
};

// Counts lists the CRC confirmed from combined copies that were not on air.
struct Watch {
  const Entries *On_Air = nullptr;
  int Made = 0;              // lists from copies made whole
  int False_Acceptances = 0; // of those, lists not on air
};
Watch Watching;

void Hear(const Decoder_Event &event, void *) {
  if (event.Step != Decoder_Step::Decoded || event.List->Way != Judgement::Repaired)
    return;
  ++Watching.Made;
  Watching.False_Acceptances +=
      !Row_Holds(event.List->Entries, event.List->Count, *Watching.On_Air);
}

// Plays one stream through the plug-in (re-armed at once after every
// decode, as its refresh tick does) and through the plain decoder (armed
// at the start and for the copies from Phase_From on, as the tick arms it
// once), and gives the two outcomes.
std::pair<Outcome, Outcome> Play(const Kind &kind, const Stream &stream) {
  Arm_Decoder(Portal);
  Plugin_Decoder_Listener = {Hear, nullptr};
  const Entries on_air = List_Of(kind.Copies.back().Changed_List);
  Watching.On_Air = &on_air;
  Plain_Decoder plain = Plain_Decoder_For(Portal);
  const std::size_t step = Ts_Packet_Size * (kind.Feed == Feed_As::Big_Pieces ? 10 : 1);
  std::size_t copy = 0;
  for (std::size_t at = 0; at < stream.Packets.size(); at += step) {
    while (copy < stream.Copy_Starts.size() && stream.Copy_Starts[copy] <= at) {
      if (static_cast<int>(copy) == kind.Reset_Before) {
        Session_Window_Init();   // the channel record is all zeros: off the portal stream
        Current_Portal = Portal; // and ">>" back to the portal
        plain.Entries = Default_Portal_Row(Portal);
      }
      if (static_cast<int>(copy) == kind.Phase_From && copy > 0) {
        Plain_Decoder next = Plain_Decoder_For(Portal);
        next.Entries = plain.Entries;
        next.Count = plain.Count;
        plain = next;
      }
      ++copy;
    }
    const std::size_t n = std::min(step, stream.Packets.size() - at);
    const uint8_t *bytes = &stream.Packets[at];
    if (kind.Feed == Feed_As::Packets) {
      On_Section_Data(0, static_cast<int32_t>(n), bytes);
      Plain_Feed(plain, bytes, n);
    } else {
      // The payloads of these packets, one call per packet or in one piece.
      Byte_Vector payloads;
      for (std::size_t p = 0; p + Ts_Packet_Size <= n; p += Ts_Packet_Size) {
        const int32_t start = Ts_Payload_Start(bytes + p);
        if (start != Ts_No_Payload)
          payloads.insert(payloads.end(), bytes + p + start, bytes + p + Ts_Packet_Size);
        if (kind.Feed == Feed_As::Payloads && start != Ts_No_Payload)
          On_Section_Data(0, Ts_Packet_Size - start, bytes + p + start);
      }
      if (kind.Feed == Feed_As::Big_Pieces)
        On_Section_Data(0, static_cast<int32_t>(payloads.size()), payloads.data());
      for (std::size_t p = 0; p < payloads.size(); p += Ts_Payload_Size)
        Plain_Feed(plain, &payloads[p],
                   std::min<std::size_t>(Ts_Payload_Size, payloads.size() - p));
    }
    if (Plugin_Decoder.Scan_Idle)
      Arm_Section_Decoder(Plugin_Decoder);
  }
  Plugin_Decoder_Listener = {};
  return {Outcome_Of(plain.Entries, plain.Count, on_air),
          Outcome_Of(Portal_Table[Portal], Portal_Count[Portal], on_air)};
}

TEST(Damage, CopiesJudgedTogetherNeverWorseThanThePlainDecoder) {
  const Copy_Plan sound;
  Copy_Plan bytes;
  bytes.Harm = Harm_Kind::Bytes;
  const auto at = [](Copy_Plan plan, int packet) {
    plan.Packet = packet;
    return plan;
  };
  const auto in = [](Copy_Plan plan, int from, int to) {
    plan.From = from;
    plan.To = to;
    return plan;
  };
  Copy_Plan lost;
  lost.Harm = Harm_Kind::Lost;
  Copy_Plan twice;
  twice.Harm = Harm_Kind::Twice;
  Copy_Plan changed = bytes;
  changed.Changed_List = true;
  const int last = static_cast<int>(Section_Size / Ts_Payload_Size); // the section's last packet
  std::vector<Kind> kinds = {
      {"sound copies", {sound, sound}},
      {"each copy damaged in another packet", {at(bytes, 0), at(bytes, 1)}},
      {"three copies, each damaged anywhere", {bytes, bytes, bytes}},
      {"two packets less than 184 bytes apart",
       {in(at(bytes, 0), 150, 170), in(at(bytes, 1), 0, 20)}},
      {"a lost packet in every copy, adaptation fields", {at(lost, 1), at(lost, 2)}, false, 7},
      {"packed, each damaged in another packet", {at(bytes, 0), at(bytes, 1)}, true},
      {"the first damaged outside the entries, the second in them",
       {in(at(bytes, 3), 60, 64), in(at(bytes, 0), 120, 124)}},
      {"a packet sent twice in every copy", {at(twice, 0), at(twice, 1)}},
      {"a packet sent twice in every copy, whole packets",
       {at(twice, 1), at(twice, 0)},
       false,
       -1,
       Feed_As::Packets},
      {"a sound copy right behind a failing one",
       {at(bytes, 1), at(bytes, 1), sound},
       false,
       -1,
       Feed_As::Big_Pieces},
  };
  Kind same_packet{"every copy damaged in one packet",
                   {in(at(bytes, 0), 40, 60), in(at(bytes, 0), 40, 60)}};
  same_packet.Copies_Hold_It = false;
  kinds.push_back(same_packet);
  Kind packed_last{"packed, the last packet's pointer field damaged in one",
                   {at(bytes, 1), in(at(bytes, last), 0, 3)},
                   true};
  packed_last.Copies_Hold_It = false;
  kinds.push_back(packed_last);
  // A changed list whose every copy fails the same way outside the
  // entries, after the old list was shown; and the old list's copies
  // failing so after the window opened off the portal stream.
  Kind changed_kind{"a changed list, every copy failing",
                    {sound, in(at(changed, 3), 60, 64), in(at(changed, 3), 60, 64)}};
  changed_kind.Phase_From = 1;
  changed_kind.Copies_Hold_It = false;
  kinds.push_back(changed_kind);
  Kind reset_kind{"after the window opened elsewhere, every copy failing",
                  {sound, in(at(bytes, 3), 60, 64), in(at(bytes, 3), 60, 64)}};
  reset_kind.Reset_Before = 1;
  reset_kind.Phase_From = 1;
  reset_kind.Copies_Hold_It = false;
  kinds.push_back(reset_kind);

  constexpr int Variants = 30;
  int worse = 0, not_exact = 0;
  Watching = Watch{};
  std::printf("%-58s %-16s %s\n", "damage", "plain e/m/x", "plug-in e/m/x");
  for (const Kind &kind : kinds) {
    Tally plain, ours;
    for (int variant = 0; variant < Variants; ++variant) {
      std::mt19937 random(static_cast<unsigned>(variant * 7919 + 17));
      const Stream stream = Make_Stream(kind, random);
      const auto [plain_outcome, our_outcome] = Play(kind, stream);
      ++plain.Count[static_cast<int>(plain_outcome)];
      ++ours.Count[static_cast<int>(our_outcome)];
      worse += our_outcome < plain_outcome;
      not_exact += kind.Copies_Hold_It && our_outcome != Outcome::Exact;
    }
    std::printf("%-58s %2d/%2d/%2d         %2d/%2d/%2d\n", kind.What, plain.Count[2],
                plain.Count[1], plain.Count[0], ours.Count[2], ours.Count[1], ours.Count[0]);
  }
  std::printf("%d lists made whole from failing copies, %d of them not on air\n", Watching.Made,
              Watching.False_Acceptances);
  EXPECT_EQ(worse, 0) << "streams where the plug-in shows less than the plain decoder";
  EXPECT_EQ(not_exact, 0) << "streams whose copies hold the list, not shown exactly";
  EXPECT_EQ(Watching.False_Acceptances, 0) << "combined copies the CRC took for a list not on air";
}

} // namespace
