#include "tools/simfeed/field.h"

#include <algorithm>
#include <set>
#include <string>

namespace simfeed {

namespace {

const char* const kFirst[] = {"Ada",   "Bjorn", "Cato",  "Dagny",    "Eirik",  "Frida", "Gunnar",
                              "Hedda", "Ivar",  "Jorun", "Kaia",     "Leif",   "Maren", "Njal",
                              "Oda",   "Per",   "Ragna", "Sindre",   "Tora",   "Ulf",   "Vilde",
                              "Aksel", "Brage", "Elin",  "Hallvard", "Ingrid", "Knut",  "Liv"};
const char* const kLast[] = {"Aasen",   "Berg",     "Dahl",    "Eide",    "Fjeld",   "Haugen",
                             "Iversen", "Johnsen",  "Karlsen", "Lunde",   "Moen",    "Nilsen",
                             "Olsen",   "Pedersen", "Rud",     "Solberg", "Tangen",  "Vik",
                             "Strand",  "Holm",     "Lie",     "Bakke",   "Nygaard", "Sandvik"};

}  // namespace

std::vector<FieldEntry> makeField(const Scenario& s) {
    Random rng(s.seed * 2654435761u + 17u);
    std::vector<FieldEntry> field(static_cast<size_t>(s.fieldSize));

    // Grid slots: the player's is fixed, the others are dealt out in car order.
    std::vector<int> slots;
    for (int p = 1; p <= s.fieldSize; ++p) {
        if (p != s.driver.gridPosition) {
            slots.push_back(p);
        }
    }
    size_t next = 0;
    std::set<std::string> usedNames = {s.driver.name};
    std::set<int> usedIds = {s.driver.userId};
    for (int i = 0; i < s.fieldSize; ++i) {
        FieldEntry& f = field[static_cast<size_t>(i)];
        f.carIdx = i;
        if (i == s.driver.carIdx) {
            f.isPlayer = true;
            f.userName = s.driver.name;
            f.userId = s.driver.userId;
            f.carNumber = s.driver.carNumber;
            f.iRating = s.driver.iRating;
            f.gridPosition = s.driver.gridPosition;
            f.pace = 1.0;
        } else {
            const int nFirst = static_cast<int>(std::size(kFirst));
            const int nLast = static_cast<int>(std::size(kLast));
            const int first = rng.below(nFirst);
            const int last = rng.below(nLast);
            // Every driver a name and an account of his own. A clash moves on to the next
            // name instead of drawing again, so the rest of the field stays as the seed made it.
            for (int k = 0; k < nFirst * nLast; ++k) {
                const int combined = (first * nLast + last + k) % (nFirst * nLast);
                f.userName = std::string(kFirst[combined / nLast]) + " " + kLast[combined % nLast];
                if (usedNames.insert(f.userName).second) {
                    break;
                }
            }
            f.userId = 100000 + static_cast<int>(rng.uniform() * 800000);
            while (!usedIds.insert(f.userId).second) {
                ++f.userId;
            }
            f.carNumber = std::to_string(2 + i * 3 % 97);
            f.iRating = 1200 + static_cast<int>(rng.uniform() * 3000);
            f.gridPosition = slots[next++];
            // Cars further up the grid are a little quicker; the spread is about 1.5 % of a
            // lap from pole to the back, with a random part on top.
            // The player's grid slot marks the player's own pace.
            auto rank = [&](int grid) {
                return s.fieldSize > 1 ? (grid - 1.0) / (s.fieldSize - 1.0) : 0.0;
            };
            f.pace = 1.0 + 0.015 * (rank(f.gridPosition) - rank(s.driver.gridPosition)) +
                     0.002 * rng.symmetric();
        }
        std::string::size_type space = f.userName.find(' ');
        std::string firstName = f.userName.substr(0, space);
        std::string lastName = space == std::string::npos ? "" : f.userName.substr(space + 1);
        f.abbrevName = lastName.empty() ? firstName : lastName + ", " + firstName.substr(0, 1);
        f.initials = firstName.substr(0, 1) + (lastName.empty() ? "" : lastName.substr(0, 1));
        static const char* const lic[] = {"A 3.41", "A 2.87", "B 4.02", "B 3.15", "C 3.77"};
        f.licString = lic[(f.iRating / 700) % 5];
    }
    return field;
}

}  // namespace simfeed
