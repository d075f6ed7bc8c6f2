#include "MessageCatalogue.h"

namespace support_dll {

// English texts of the messages the product raises or logs. %1, %2, ... stand for the inserts
// in order; an insert that a text does not use is appended by the renderer.
const std::vector<CatalogueEntry>& builtinCatalogue() {
  static const std::vector<CatalogueEntry> entries = {
      {0xC2011000, "%1"},
      {0xC2011F00, "%1"},
      {0xC2011001, "Invalid argument."},
      {0xC2011007, "The operation is not supported: %1"},
      {0xC2011016, "Invalid XML: '%1' %2 (element '%3')."},
      {0xC2011017, "is missing or empty"},
      {0xC2011018, "occurs more than once"},
      {0xC2011002, "Invalid pointer: %1::%2 found '%3' null."},
      {0xC2011008, "The cube view is not bound to a cube; '%1' cannot be done."},
      {0xC2011013, "A sort needs a tuple."},
      {0xC2011014, "A filter needs a tuple."},
      {0xC2011019, "An element of a cube view cannot be restored without a cube."},
      {0xC201101A, "Element '%1' names hierarchy '%2', which the cube does not have."},
      {0xC2011020, "The text is not a cube view document: it must be XML with exactly one "
                   "'CubeView' element."},
      {0xC2011027, "A cube view needs at least one view axis."},
      {0xC2011028, "A cube view has at most two view axes."},
      {0xC2011029, "A cube view needs at least one slice axis."},
      {0xC201102C, "The axis does not belong to this cube view."},
      {0xC2011045, "Hierarchy '%1' is on no axis of the cube view."},
      {0xC2011035, "The cube has no hierarchy '%1'."},
      {0xC2011009, "The query would produce more cells than the cube allows."},
      {0xC201102A, "A view axis holds no hierarchy: the cube view cannot be queried."},
      {0xC2011046,
       "Hierarchies of different dimensions cannot be swapped (dimension '%1'): the cube "
       "allows one hierarchy per dimension in a view."},
      {0xC201110E, "The expression is missing or cannot be used here."},
      {0xC201101E, "A sort specification could not be restored and was removed from the view."},
      {0xC201101F, "A filter specification could not be restored and was removed from the view."},
      {0xC201102B,
       "An exception specification could not be restored and was removed from the view."},
      {0xC201104B, "The member set belongs to hierarchy '%1', not to hierarchy '%2'."},
      {0xC201105A, "An axis hierarchy could not be restored and was removed from its axis."},
      {0xC201105B, "A dynamic calculation could not be restored and was removed from its axis."},
      {0xC201105D,
       "The active slice of hierarchy '%1' no longer exists; the default member is used "
       "instead."},
      {0xC201105E,
       "Hierarchy '%1' was on no axis of the saved view; it was added to the first slice "
       "axis."},
      {0xC201105F,
       "The axes of the saved view could not be restored; the view was reset to its default "
       "layout."},
      {0xC2011036, "Invalid number or signed operand '%1' in '%2'."},
      {0xC2011037, "The operands of this operator must be numbers."},
      {0xC2011200, "A required object is missing: the provider returned none."},
      {0xC2011113, "Syntax error at '%1' in '%2'."},
      {0xC2011117, "The structure of the cube changed: %1"},
      {0x02017066, "The expression is too deeply nested."},
      {0xC2011006, "%1::%2 cannot convert %3 '%5' to %4."},
      {0xC201103D, "%1 cannot be asked of a node of type %2."},
      {0xC201103F, "'%1' is no field: only fields may be selected."},
      {0xC2011040, "'%1' is no hierarchy: only hierarchies may follow FROM."},
      {0xC2011118, "Unterminated quoted text '%2' in '%1'."},
      {0xC2011119, "The statement cannot be built: %1 needs %2 queued items."},
      // Flat requests.
      {0xC2011130, "Field '%1' takes column index %2, which another field already has."},
      {0xC2011131, "No field carries column index %1."},
      {0xC2011132, "XML query documents are not available yet: only statements can be executed."},
      {0xC2011133, "The flat request cannot be executed: %1."},
      {0xC2011134, "'%1' is no field of the cube."},
      {0xC2011135, "Field '%1' belongs to hierarchy '%2', which the FROM list does not name."},
      {0xC2011136, "Field '%1' cannot be compared with %2: the value is of the wrong type."},
      {0xC2011137, "Grouping sets cannot be executed yet."},
      {0x42018008, "There is nothing to revert: %1."},
      {0xC201B249, "The session manager could not be created: no session provider is registered."},
      {0xC201B241, "Unknown provider '%1'."},
      // Tuples, sorts, filters and exception specifications.
      {0xC201101C, "Member '%1' does not exist in the cube."},
      {0xC201101B, "is out of range"},
      {0xC201101D, "is not a GUID"},
      {0xC2011044, "A native expression cannot be used as a filter or highlighting condition."},
      {0xC2011049, "Unknown sort direction %1."},
  };
  return entries;
}

}  // namespace support_dll
