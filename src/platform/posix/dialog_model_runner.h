// Dialogs for hosts without Windows: each opens in the dialog model the host handed over.
#pragma once

#include "platform/dialog_model.h"

namespace torvexan {

class DialogModelRunner final : public DialogRunner {
 public:
  // The host's dialog model; null: dialogs end at once with result 0, nobody sees them.
  void SetModel(DialogModel* model) { model_ = model; }

  int RunModal(const DialogTemplate& dialog, DialogHandler& handler) override {
    return model_ != nullptr ? model_->Run(dialog, handler) : 0;
  }

 private:
  DialogModel* model_ = nullptr;
};

}  // namespace torvexan
