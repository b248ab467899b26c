#include "orvanta/core/front_end.h"

#include "orvanta/core/texts.h"

namespace orvanta {

void ShowInformation(FrontEnd& frontEnd, const std::string& cp949)
{
    frontEnd.ShowMessageBox(cp949, text::Get(text::Id::Caption));
}

}  // namespace orvanta
