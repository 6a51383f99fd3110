#include "data/column_values.h"

#include <gtest/gtest.h>

namespace mv {
namespace {

TEST(ColumnValuesTest, ToDateTime) {
  struct Case {
    const char* text;
    std::optional<DateTime> value;  // nullopt: 13 Type mismatch
  } cases[] = {
      {"2026-12-06 16:08:27", DateTime{2026, 12, 6, 16, 8, 27}},
      {"2026-12-06 16:08:27.999999", DateTime{2026, 12, 6, 16, 8, 27}},
      {"2026-12-06 16:08:27+01", DateTime{2026, 12, 6, 16, 8, 27}},
      {"2026-12-06 16:08:27.5-05:30", DateTime{2026, 12, 6, 16, 8, 27}},
      {"2026-12-06", DateTime{2026, 12, 6, 0, 0, 0}},
      {"2024-02-29 00:00:00", DateTime{2024, 2, 29, 0, 0, 0}},
      {"12/6/2026 4:08:27 PM", DateTime{2026, 12, 6, 16, 8, 27}},
      {"12/6/2026 12:00:01 AM", DateTime{2026, 12, 6, 0, 0, 1}},
      {"12/6/2026 12:30 pm", DateTime{2026, 12, 6, 12, 30, 0}},
      {"not a date", std::nullopt},
      {"2023-02-29", std::nullopt},
      {"2026-04-31", std::nullopt},
      {"2026-1-2", std::nullopt},
      {"0099-12-31", std::nullopt},
      {"2026-12-06 24:00:00", std::nullopt},
      {"2026-12-06 16:08:27 junk", std::nullopt},
      {"12/06/26", std::nullopt},
      {"12/6/2026 13:00 PM", std::nullopt},
      {"12/6/2026 0:00 AM", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Result<DateTime> r = ToDateTime(c.text);
    if (c.value) {
      ASSERT_TRUE(r.ok()) << r.failure().Text();
      EXPECT_EQ(r.value(), *c.value) << FormatMmDdYyyy(r.value());
    } else {
      ASSERT_FALSE(r.ok()) << FormatMmDdYyyy(r.value());
      EXPECT_EQ(r.failure().number(), kTypeMismatch);
    }
  }
}

}  // namespace
}  // namespace mv
