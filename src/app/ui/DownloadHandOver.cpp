#include "app/ui/DownloadHandOver.h"

namespace {

TDownloadWindowFactory& Factory() {
  static TDownloadWindowFactory f;  // function-local: safe from static registrars
  return f;
}

}  // namespace

TDownloadWindowFactory SetDownloadWindowFactory(TDownloadWindowFactory factory) {
  TDownloadWindowFactory previous = std::move(Factory());
  Factory() = std::move(factory);
  return previous;
}

bool RegisterDownloadWindow(TDownloadWindowFactory factory) {
  SetDownloadWindowFactory(std::move(factory));
  return true;
}

std::unique_ptr<TDownloadWindowIntf> CreateDownloadWindow(QWidget* owner, const TStringList& inputList) {
  if (!Factory()) return nullptr;
  return Factory()(owner, inputList);
}
