// The text passes of the X importer: they read the file into XText and
// rewrite it into the canonical text that holds nothing but the mesh objects,
// each object kind marked by a token. Every pass that can fail has already
// shown its message when it returns 0.
#pragma once

// The tokens that replace the keywords, in the order the keywords are tested.
enum XToken {
  TokenTemplate,
  TokenMaterial,
  TokenTextureFilename,
  TokenMesh,
  TokenMeshMaterialList,
  TokenMeshNormals,
  TokenMeshTextureCoords,
  XTokenCount
};
extern const char* const XKeywords[XTokenCount];  // "template ", "Material ", ...
extern const char* const XTokens[XTokenCount];    // "__qlt_token_template:", ...
extern const char* const XTokenPrefix;            // "__qlt_token_"

// The import's messages; %s is the path.
extern const char* const XOutOfMemoryText;    // "Out of memory! - Use a smaller X file!"
extern const char* const XUnbalancedText;     // an object whose "{" is never closed
extern const char* const XTemplateErrorText;  // a token inside a template body
extern const char* const XNoMeshText;         // no mesh object in the file
extern const char* const XFatalCaption;       // "Fatal Error"
extern const char* const XFixFileCaption;     // "Fatal Error - Fix the X File!"

// Reads the whole file into XText and checks the header.
int ReadXFile(const char* path);
// The passes in their order, each giving exactly the text of its plain form
// (every position in turn, edited in place), in linear time. `path` names
// the file in messages and the progress box.
int ReplaceKeywords(const char* path);
void LowerCaseText();
void RemoveGarbage(const char* path);
int RemoveTemplates(const char* path);
int CheckForMesh(const char* path);
void DropHeader(const char* path);
int ResolveReferences(const char* path);
void RemoveTokenNames(const char* path);
int DeleteObsoletes(const char* path);
int VerifyMaterialLists(const char* path);

// Reference resolution in its plain form, one reference at a time with the
// text operations. The linear pass hands over to it for the rare names that
// hold a "}".
int ResolveReferencesStepByStep(const char* path);

// The material lists in their plain form, one mesh at a time with the text
// operations. The linear pass hands over to it when a copied material holds
// a mesh.
int VerifyMaterialListsStepByStep(const char* path);

// Every pass above in order, from reading the file to the material lists.
int MakeCanonicalXText(const char* path);

// The integer item after `count` items from position, as the material lists
// read a face count; items are read as in the interpretation.
int SkipItems(int position, int count);
