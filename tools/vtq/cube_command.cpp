#include "cube_command.h"

namespace vtq {

void printCube(NUVA_o::Cube* cube, std::ostream& out) {
  for (NUVA_o::Dimension* dimension : cube->getDimensions())
    for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
      long members = 0;
      for (int l = 0; l < hierarchy->getLevelCount(); ++l) members += hierarchy->getLevel(l)->getMemberCount();
      out << dimension->getUniqueName().string() << '\t' << hierarchy->getUniqueName().string() << '\t'
          << hierarchy->getLevelCount() << '\t' << members << '\n';
    }
}

}  // namespace vtq
