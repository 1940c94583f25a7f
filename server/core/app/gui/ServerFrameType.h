#pragma once
// What a node of the server window's tree shows; the numbers are stored in the tree's nodes.

namespace tarvo {

enum TServerFrameType : int {
  ftObjList = 0,    // a list of objects: the node's children, the masters or the transports
  ftActionLog = 1,  // recent action log lines
  ftIOLog = 2,      // recent input/output log lines
  ftTransport = 3,  // one live transport, a child of "Транспорты"; no frame of its own yet
  ftReserved4 = 4,
  ftReserved5 = 5,
  ftDiag = 6,
};

}  // namespace tarvo
