#pragma once

#include <functional>

#include "table_view_controller.h"

namespace duo {

/// Picks who may see an uploaded photo: "Public", "Friends", "Family" or "Only Me" (indices 0
/// to 3), with a checkmark on the current index. After a choice the completion gets the index
/// and the screen leaves its navigation stack half a second later.
class QSFlickrAudienceViewController : public TableViewController {
  Q_OBJECT

 public:
  using Completion = std::function<void(int audience)>;

  static constexpr int kMinimumContentHeight = 282;

  explicit QSFlickrAudienceViewController(int currentAudience, QObject* parent = nullptr);

  void setCompletion(Completion completion) { m_completion = std::move(completion); }
  int audience() const { return m_audience; }

 protected:
  void viewDidLoad() override;

 private:
  void choose(int row);

  int m_audience;
  Completion m_completion;
};

}  // namespace duo
