       COPY RA.
       COPY SELF.
