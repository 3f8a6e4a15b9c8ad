// A camera's ten schedule slots and the state reset that goes with removing
// or cancelling an entry.
#include <gtest/gtest.h>

#include "viewer/shell/model/schedule_entries.h"

namespace model {
namespace {

void make_window_active(ScheduleTable& table, int slot) {
  table.with_lock([slot](auto&, ScheduleState& st) {
    st.active_entry = slot;
    st.active_reference = slot;
    st.window_start = 1000;
    st.window_end = 4600;
    st.continue_window = true;
    st.file_start = 1200;
    st.last_motion = 1300;
    st.motion_continues = true;
  });
}

void expect_reset_keeping_reference(const ScheduleState& st, int reference) {
  EXPECT_EQ(st.active_entry, -1);
  EXPECT_EQ(st.active_reference, reference);
  EXPECT_EQ(st.window_start, 0);
  EXPECT_EQ(st.window_end, 0);
  EXPECT_FALSE(st.continue_window);
  EXPECT_EQ(st.file_start, 0);
  EXPECT_EQ(st.last_motion, 0);
  EXPECT_FALSE(st.motion_continues);
}

TEST(ScheduleTable, TenSlotsAndNoDuplicates) {
  ScheduleTable table;
  for (int i = 0; i < kScheduleSlots; ++i) EXPECT_EQ(table.add_entry(i % 2, 1, 800 + i, 30), kEntryAdded);
  EXPECT_EQ(table.add_entry(0, 2, 900, 30), kEntryTableFull);  // the eleventh
  EXPECT_EQ(table.count(), kScheduleSlots);

  ASSERT_EQ(table.remove_entry(1, 1, 803, 30), 1);
  EXPECT_EQ(table.add_entry(0, 1, 800, 30), kEntryExists);  // identical to slot 0
  EXPECT_EQ(table.add_entry(1, 1, 800, 30), kEntryAdded);   // another kind is another entry
  // The freed slot is reused, so slot order is not addition order.
  EXPECT_EQ(table.slots()[3].entry.start, 800);
  EXPECT_EQ(table.slots()[3].entry.kind, 1);
  EXPECT_EQ(table.entries_in_use().size(), static_cast<std::size_t>(kScheduleSlots));
}

TEST(ScheduleTable, RemoveResetsTheStateOnlyWhenSomethingWasRemoved) {
  ScheduleTable table;
  ASSERT_EQ(table.add_entry(0, 1, 800, 60), kEntryAdded);
  ASSERT_EQ(table.add_entry(1, 20260101, 2200, 30), kEntryAdded);
  make_window_active(table, 1);
  EXPECT_EQ(table.remove_entry(0, 1, 800, 61), 0);
  EXPECT_EQ(table.state().active_entry, 1);
  EXPECT_EQ(table.remove_entry(0, 1, 800, 60), 1);
  expect_reset_keeping_reference(table.state(), 1);
  EXPECT_EQ(table.count(), 1);
}

TEST(ScheduleTable, CancelMarksTheActiveEntry) {
  ScheduleTable table;
  ASSERT_EQ(table.add_entry(0, 1, 800, 60), kEntryAdded);
  table.cancel_active_entry();  // no active reference: nothing happens
  EXPECT_FALSE(table.slots()[0].entry.cancelled);
  make_window_active(table, 0);
  table.cancel_active_entry();
  EXPECT_TRUE(table.slots()[0].entry.cancelled);
  expect_reset_keeping_reference(table.state(), 0);
  table.clear_active_reference();
  EXPECT_EQ(table.state().active_reference, -1);
  // A cancelled entry is still the same entry for the duplicate test.
  EXPECT_EQ(table.add_entry(0, 1, 800, 60), kEntryExists);
}

}  // namespace
}  // namespace model
