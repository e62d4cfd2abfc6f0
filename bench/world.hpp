// What every benchmark runs against: a temporary base folder holding the
// integration log and the point-of-sale database, the library pointed at
// them, and a sandbox serving one customer per answer size.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sandbox/sandbox.hpp"
#include "temp_folder.hpp"

namespace lumirex::bench {

class World {
 public:
  explicit World(std::vector<int> answerSizes);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const std::vector<int>& AnswerSizes() const { return sizes_; }
  std::string BaseDir() const { return base_.str(); }
  std::filesystem::path PosDatabase() const { return base_.path() / "Dados" / "pos.sqlite"; }
  std::string ConnectionString() const { return connection_; }
  std::string Url() const { return sandbox_.BaseUrl(); }
  sandbox::Sandbox& Sandbox() { return sandbox_; }

  // The URL the library GETs for a customer query, and the answer it receives.
  std::string ConsultaUrl(int promocodes) const;
  const std::string& ConsultaAnswer(int promocodes) const { return answers_.at(promocodes); }

  // The VENDA request the library sends for the twenty-item sale, and the
  // service's answer to it once the sale is known.
  std::string VendaUrl() const { return Url() + "order?pdv=true"; }
  const std::string& VendaBody() const { return saleBody_; }
  const std::string& VendaAnswer() const { return saleAnswer_; }

  // The last operator message of a failed call ("" when none).
  static std::string LastMessage();

 private:
  std::vector<int> sizes_;
  TempFolder base_;
  std::string connection_;
  sandbox::Sandbox sandbox_;
  std::map<int, std::string> answers_;
  std::string saleBody_, saleAnswer_;
};

}  // namespace lumirex::bench
