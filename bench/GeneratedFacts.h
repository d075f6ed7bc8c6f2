#pragma once

// The generated data of the query benchmarks: 1,000 items in 5 categories and 40 subcategories,
// 120 months over 10 years, 40 cities in 4 regions, and fact rows drawn with a fixed seed.
// `--dump-csv DIR` writes them as CSV tables so that peers outside the program (the DuckDB
// comparison script) read the very same rows.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vtq_bench {

struct GeneratedFacts {
  static constexpr int kYears = 10, kCategories = 5, kSubcategories = 8, kItems = 25, kCities = 40,
                       kRegions = 4;
  struct Item {
    std::string name, subcategory, category;
  };
  struct Month {
    std::string key, year, quarter, name;
  };
  struct City {
    std::string name, region;
  };

  std::vector<Item> items;  // kItems consecutive items per subcategory
  std::vector<Month> months;
  std::vector<City> cities;
  // Row r of the facts: indexes into months, items and cities, and its sales.
  std::vector<int32_t> factMonth, factItem, factCity;
  std::vector<double> factSales;

  explicit GeneratedFacts(size_t facts) {
    for (int c = 0; c < kCategories; ++c)
      for (int s = 0; s < kSubcategories; ++s)
        for (int i = 0; i < kItems; ++i)
          items.push_back(
              {"I" + std::to_string(c) + "." + std::to_string(s) + "." + std::to_string(i),
               "S" + std::to_string(c) + "." + std::to_string(s), "C" + std::to_string(c)});
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int y = 0; y < kYears; ++y)
      for (int m = 0; m < 12; ++m) {
        char key[16];
        std::snprintf(key, sizeof key, "%d-%02d", 2010 + y, m + 1);
        months.push_back(
            {key, std::to_string(2010 + y), "Q" + std::to_string(m / 3 + 1), names[m]});
      }
    for (int c = 0; c < kCities; ++c)
      cities.push_back({"City" + std::to_string(c), "R" + std::to_string(c % kRegions)});

    uint64_t seed = 20240601;
    auto next = [&seed] {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      return seed >> 33;
    };
    factMonth.resize(facts);
    factItem.resize(facts);
    factCity.resize(facts);
    factSales.resize(facts);
    for (size_t r = 0; r < facts; ++r) {
      factMonth[r] = static_cast<int32_t>(next() % months.size());
      factItem[r] = static_cast<int32_t>(next() % items.size());
      factCity[r] = static_cast<int32_t>(next() % cities.size());
      factSales[r] = static_cast<double>(next() % 100000) / 100.0;
    }
  }

  // months.csv, products.csv, cities.csv and facts.csv in `dir`, with a header line each. The
  // sales are written with two decimals, which read back as the very same doubles.
  bool dumpCsv(const std::string& dir) const {
    auto open = [&dir](const char* name) { return std::fopen((dir + "/" + name).c_str(), "w"); };
    FILE* f = open("months.csv");
    if (!f) return false;
    std::fprintf(f, "month_id,month,quarter,year\n");
    for (size_t i = 0; i < months.size(); ++i)
      std::fprintf(f, "%zu,%s,%s,%s\n", i, months[i].key.c_str(), months[i].quarter.c_str(),
                   months[i].year.c_str());
    std::fclose(f);
    if (!(f = open("products.csv"))) return false;
    std::fprintf(f, "item_id,item,subcategory_id,subcategory,category\n");
    for (size_t i = 0; i < items.size(); ++i)
      std::fprintf(f, "%zu,%s,%zu,%s,%s\n", i, items[i].name.c_str(), i / kItems,
                   items[i].subcategory.c_str(), items[i].category.c_str());
    std::fclose(f);
    if (!(f = open("cities.csv"))) return false;
    std::fprintf(f, "city_id,city,region\n");
    for (size_t i = 0; i < cities.size(); ++i)
      std::fprintf(f, "%zu,%s,%s\n", i, cities[i].name.c_str(), cities[i].region.c_str());
    std::fclose(f);
    if (!(f = open("facts.csv"))) return false;
    std::fprintf(f, "month_id,item_id,city_id,sales\n");
    for (size_t r = 0; r < factSales.size(); ++r)
      std::fprintf(f, "%d,%d,%d,%.2f\n", factMonth[r], factItem[r], factCity[r], factSales[r]);
    return std::fclose(f) == 0;
  }
};

// The directory of `--dump-csv DIR` (removed from the arguments), or empty.
inline std::string takeDumpCsvOption(int& argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--dump-csv") == 0) {
      std::string dir = argv[i + 1];
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      return dir;
    }
  return std::string();
}

// The fact count of `--facts N` (removed from the arguments), or `fallback`. Exits with a
// message when N is not a positive whole number.
inline size_t takeFactsOption(int& argc, char** argv, size_t fallback) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--facts") == 0) {
      char* end = nullptr;
      const unsigned long long facts = i + 1 < argc ? std::strtoull(argv[i + 1], &end, 10) : 0;
      if (facts == 0 || !end || *end != '\0' || argv[i + 1][0] == '-') {
        std::fprintf(stderr, "--facts needs a positive whole number\n");
        std::exit(2);
      }
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      return static_cast<size_t>(facts);
    }
  return fallback;
}

}  // namespace vtq_bench
