++INCLUDE PA
       ++INCLUDE PA
        ++INCLUDE PA
       ++include PA
       ++INCLUDE PB.V;
       ++INCLUDE
           PA
