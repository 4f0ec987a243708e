// Busy EIT builder: a day of invented programmes per service, cut into 3-hour
// schedule segments, and the present/following pair at a fixed evening hour.
#include "bench/busy_eit.h"

#include "core/portal_table.h"

#include <stdexcept>
#include <string>

namespace {

constexpr uint16_t Service_Id_First = 0x0400; // services are 0x0400, 0x0403, 0x0406, ...
constexpr uint16_t Service_Id_Step = 3;
constexpr int Transport_Streams = 6; // services spread over transport streams 1 to 6
constexpr uint16_t Event_Id_First = 1000;
constexpr int Event_Ids_Per_Service = 200;   // more than a day of 15-minute events
constexpr uint16_t Schedule_Day_Mjd = 60373; // 4 March 2024
constexpr int Minutes_Per_Day = 24 * 60;
constexpr int Segment_Minutes = Minutes_Per_Day / Busy_Schedule_Segments;
constexpr uint8_t Sections_Per_Segment = 8;  // section numbers step by 8 per segment
constexpr int Present_Minute = 20 * 60 + 10; // the present event runs at 20:10
constexpr uint8_t Running = 4;
constexpr uint8_t Not_Running = 1;
constexpr uint8_t Undefined_Running = 0; // what schedule events carry

constexpr bool Busy_Ids_Avoid_Portals() {
  for (const Portal_Constants &portal : Portal_Constants_Table)
    if (portal.Source_Service_Id >= Service_Id_First)
      return false;
  return Service_Id_First + Service_Id_Step * Busy_Services_Max <= 0xFFFF &&
         Event_Id_First + Event_Ids_Per_Service * Busy_Services_Max <= 0xFFFF;
}
static_assert(Busy_Ids_Avoid_Portals(), "busy service ids stay clear of the portals' sources");

struct Programme {
  const char *Title;
  const char *Text;
};

// Invented programmes; texts stay ASCII so no character table is needed.
constexpr Programme Programmes[] = {
    {"Die Brummelbachs", "Familie Brummelbach erbt eine Kegelbahn in Kalbersheim und muss sie "
                         "bis zum Schuetzenfest wieder in Gang bringen."},
    {"Geschichten aus Kalbersheim", "Ottokar Semmelrath will den alten Dorfbrunnen retten, doch "
                                    "der Gemeinderat hat laengst andere Plaene."},
    {"Knoll & Kruse ermitteln", "Kommissarin Knoll und ihr Kollege Kruse folgen im Hafen von "
                                "Ahlmersand der Spur eines verschwundenen Frachtkahns."},
    {"Heimwerken mit Gerlinde", "Gerlinde Pfaffrath baut ein Vogelhaus aus alten Weinkisten und "
                                "zeigt, worauf es beim Leimen ankommt."},
    {"Das Tuedelmoor-Quiz", "Drei Teams aus dem Riedgau raten um eine Reise nach Ahlmersand. "
                            "Moderation: Jost Elbracht."},
    {"Wetter im Riedgau", "Die Aussichten fuer das Riedgau und die Kueste um Nordwinkel, dazu "
                          "das Wetter fuer das Wochenende."},
    {"Kochen mit Ottokar", "Ottokar Semmelrath kocht Gruenkohl nach dem Rezept seiner Grossmutter "
                           "aus Wunnerbach."},
    {"Sternwarte Hollerstein",
     "Welche Planeten sind in diesem Monat am Abendhimmel zu sehen? Hanne "
     "Wiebking gibt Tipps fuer Einsteiger."},
    {"Bahnhof Schwerbeck", "Der letzte Zug ist weg, doch im Wartesaal von Schwerbeck beginnt fuer "
                           "Fahrdienstleiterin Ilse Quandtmeier die Nacht erst."},
    {"Wildes Hexmoor", "Dokumentation: Ein Jahr lang begleitet die Kamera die Kraniche im Hexmoor "
                       "vom Herbstzug bis zur Brut."},
    {"Kreisliga Nordwinkel live", "Das Derby zwischen dem SV Nordwinkel und Eintracht Brummelbach, "
                                  "live aus dem Stadion am Deich."},
    {"Inselreise nach Ahlmersand", "Reportage: Wie die Faehrleute von Ahlmersand den Winter auf "
                                   "dem Wattenmeer ueberstehen."},
    {"Nachrichten am Abend", "Aktuelles aus dem Riedgau und der Welt, mit dem Wetter und den "
                             "Sportergebnissen des Tages."},
    {"Der Zoellner von Lindenbrunn", "Zollinspektor Harms entdeckt in einer Kiste Sauerkraut mehr "
                                     "als nur Kraut. Krimiserie."},
};
constexpr int Programme_Count = static_cast<int>(sizeof Programmes / sizeof Programmes[0]);
constexpr int Durations[] = {15, 25, 30, 45, 50, 60, 90, 105, 120}; // minutes
constexpr int Duration_Count = static_cast<int>(sizeof Durations / sizeof Durations[0]);

uint32_t Mix(uint32_t a, uint32_t b) {
  uint32_t x = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u);
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return x;
}

uint8_t Bcd(int value) {
  return static_cast<uint8_t>((value / 10) << 4 | value % 10);
}

struct Timed_Event {
  int Start_Minute;
  int Minutes;
  Eit_Event Event;
};

// The day's programme of one service, from 00:00 until past midnight.
std::vector<Timed_Event> Day_Of(int service, bool scrambled) {
  std::vector<Timed_Event> day;
  for (int minute = 0, k = 0; minute < Minutes_Per_Day; ++k) {
    const uint32_t pick = Mix(static_cast<uint32_t>(service), static_cast<uint32_t>(k));
    const int minutes = Durations[pick % Duration_Count];
    const Programme &programme = Programmes[(pick >> 8) % Programme_Count];
    Eit_Event event;
    event.Event_Id = static_cast<uint16_t>(Event_Id_First + service * Event_Ids_Per_Service + k);
    event.Start_Time[0] = static_cast<uint8_t>(Schedule_Day_Mjd >> 8);
    event.Start_Time[1] = static_cast<uint8_t>(Schedule_Day_Mjd & 0xFF);
    event.Start_Time[2] = Bcd(minute / 60);
    event.Start_Time[3] = Bcd(minute % 60);
    event.Start_Time[4] = 0;
    event.Duration[0] = Bcd(minutes / 60);
    event.Duration[1] = Bcd(minutes % 60);
    event.Duration[2] = 0;
    event.Running_Status = Undefined_Running;
    event.Free_Ca = scrambled;
    const std::string text =
        "Folge " + std::to_string(1 + (pick >> 16) % 120) + ". " + programme.Text;
    event.Descriptors = Short_Event_Descriptor_Bytes("deu", programme.Title, text);
    day.push_back({minute, minutes, event});
    minute += minutes;
  }
  return day;
}

} // namespace

Busy_Eit Build_Busy_Eit(int services) {
  if (services < 1 || services > Busy_Services_Max)
    throw std::invalid_argument("busy service count out of range");
  Busy_Eit eit;
  for (int service = 0; service < services; ++service) {
    const uint16_t transport = static_cast<uint16_t>(1 + service % Transport_Streams);
    const bool actual = transport == Busy_Actual_Transport_Stream_Id;
    const std::vector<Timed_Event> day = Day_Of(service, service % 4 != 0);

    Eit_Section section;
    section.Service_Id = static_cast<uint16_t>(Service_Id_First + service * Service_Id_Step);
    section.Transport_Stream_Id = transport;
    section.Original_Network_Id = Portal_Original_Network_Id;
    section.Version_Number = static_cast<uint8_t>(service % 32);

    // Present/following: sections 0 and 1, one event each.
    section.Table_Id = actual ? Eit_Actual_Present_Following : Eit_Other_Present_Following;
    section.Last_Table_Id = section.Table_Id;
    section.Last_Section_Number = 1;
    section.Segment_Last_Section_Number = 1;
    std::size_t present = 0;
    while (present + 1 < day.size() && day[present + 1].Start_Minute <= Present_Minute)
      ++present;
    for (uint8_t number = 0; number < 2; ++number) {
      Eit_Event event = day[present + number].Event;
      event.Running_Status = number == 0 ? Running : Not_Running;
      section.Section_Number = number;
      section.Events = {event};
      eit.Present_Following.push_back(Build_Eit_Section(section));
    }

    // Schedule: one section per 3-hour segment with the events starting in it.
    section.Table_Id = actual ? Eit_Actual_Schedule_First : Eit_Other_Schedule_First;
    section.Last_Table_Id = section.Table_Id;
    section.Last_Section_Number = (Busy_Schedule_Segments - 1) * Sections_Per_Segment;
    for (int segment = 0; segment < Busy_Schedule_Segments; ++segment) {
      section.Section_Number = static_cast<uint8_t>(segment * Sections_Per_Segment);
      section.Segment_Last_Section_Number = section.Section_Number;
      section.Events.clear();
      for (const Timed_Event &timed : day)
        if (timed.Start_Minute / Segment_Minutes == segment)
          section.Events.push_back(timed.Event);
      eit.Schedule.push_back(Build_Eit_Section(section));
    }
  }
  return eit;
}

std::vector<Byte_Vector> Busy_Eit_Sections(int services) {
  const Busy_Eit eit = Build_Busy_Eit(services);
  std::vector<Byte_Vector> sections;
  for (int service = 0; service < services; ++service) {
    const std::size_t pf = static_cast<std::size_t>(service) * 2;
    const std::size_t schedule = static_cast<std::size_t>(service) * Busy_Schedule_Segments;
    sections.insert(sections.end(), eit.Present_Following.begin() + static_cast<long>(pf),
                    eit.Present_Following.begin() + static_cast<long>(pf + 2));
    sections.insert(sections.end(), eit.Schedule.begin() + static_cast<long>(schedule),
                    eit.Schedule.begin() + static_cast<long>(schedule + Busy_Schedule_Segments));
  }
  return sections;
}
